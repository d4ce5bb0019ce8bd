#include "platform/engine/engine_state.h"


#include <algorithm>
#include <cstdio>

namespace engine {

namespace {

EngineVariables engineVariables;
RunRecord engineRun;
bool diagnosticsEnabled = false;

// Entries up to the device's position, 2716 / 4.
constexpr int slotCount = EnginePos::device / 4 + 1;
void* table[slotCount];

void point(int position, void* target) {
    table[position / 4] = target;
}

bool buildTable() {
    EngineVariables& v = engineVariables;
    point(EnginePos::frameDuration, &v.frameDuration);
    point(EnginePos::runningTime, &v.runningTime);
    point(EnginePos::settingFieldOfView, &v.fieldOfView);
    point(EnginePos::settingNearClip, &v.nearClip);
    point(EnginePos::settingFrameRateLimit, &v.frameRateLimit);
    point(EnginePos::settingHorizonHaze, &v.horizonHaze);
    point(EnginePos::settingMaxTimeStep, &v.maxTimeStep);
    point(EnginePos::settingSunSize, &v.sunSize);
    point(EnginePos::turnInputB, &v.turnInputB);
    point(EnginePos::turnInputA, &v.turnInputA);
    point(EnginePos::speedUpInput, &v.speedUpInput);
    point(EnginePos::shaderCapability, &v.shaderCapability);
    point(EnginePos::anglePair, v.anglePair);
    for (int k = 0; k < letterCount; ++k) {
        point(EnginePos::letterKeyState + 4 * k, &v.letterKeys[k]);
        point(EnginePos::letterKeyHook + 4 * k, &v.letterHooks[k]);
    }
    point(EnginePos::keyUp, &v.keyUp);
    point(EnginePos::keyDown, &v.keyDown);
    point(EnginePos::keySecondForward, &v.keySecondForward);
    point(EnginePos::deviceLostHook, &v.deviceLostHook);
    point(EnginePos::deviceResetHook, &v.deviceResetHook);
    point(EnginePos::renderHook, &v.renderHook);
    point(EnginePos::camera, &v.camera);
    point(EnginePos::viewMatrix, v.viewMatrix);
    point(EnginePos::projectionMatrix, v.projectionMatrix);
    return true;
}

} // namespace

EngineVariables& variables() {
    return engineVariables;
}

void resetVariables() {
    engineVariables = EngineVariables{};
    engineVariables.fieldOfView = toEngineNumber(90);
    engineVariables.nearClip = toEngineNumber(1);
    engineVariables.horizonHaze = toEngineNumber(5);
    engineVariables.sunSize = toEngineNumber(32);
}

EngineSlotTable* slotTable() {
    static const bool built = buildTable();
    (void)built;
    return table;
}

void setSlotTableDevice(IDirect3DDevice9* device) {
    slotTable()[EnginePos::device / 4] = device;
}

IDirect3DDevice9* slotTableDevice() {
    return static_cast<IDirect3DDevice9*>(slotTable()[EnginePos::device / 4]);
}

double timeStepTicks() {
    const EngineNumber duration = engineVariables.frameDuration;
    const EngineNumber limit = engineVariables.maxTimeStep;
    return fromEngineNumber(limit > 0 ? std::min(duration, limit) : duration);
}

RunRecord& runRecord() {
    return engineRun;
}

} // namespace engine

namespace engine {

void reportProblem(const std::string& message) {
    std::fprintf(stderr, "engine: %s\n", message.c_str());
}

void diagnostic(const std::string& message) {
    if (diagnosticsEnabled) reportProblem(message);
}

void setDiagnostics(bool enabled) {
    diagnosticsEnabled = enabled;
}

} // namespace engine
