// The engine's variables, the slot table that points at them, and the record of the run.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <string>

namespace engine {

constexpr int letterCount = 26;

// Everything the slot table exposes. Written by the engine's frame and by the program, on the
// main thread only.
struct EngineVariables {
    EngineNumber frameDuration;
    EngineNumber runningTime;
    EngineNumber fieldOfView;
    EngineNumber nearClip;
    EngineNumber frameRateLimit;
    EngineNumber horizonHaze;
    EngineNumber maxTimeStep;
    EngineNumber sunSize;
    EngineVector turnInputB;
    EngineVector turnInputA;
    EngineNumber speedUpInput;
    EngineNumber shaderCapability;
    EngineNumber anglePair[2];
    EngineNumber letterKeys[letterCount];
    EngineNumber keyUp;
    EngineNumber keyDown;
    EngineNumber keySecondForward;
    EngineHook letterHooks[letterCount];
    EngineHook deviceLostHook;
    EngineHook deviceResetHook;
    EngineHook renderHook;
    EngineCamera camera;
    float viewMatrix[16];
    float projectionMatrix[16];
};

EngineVariables& variables();

// The engine's defaults: settings as documented in engine.h, everything else zero.
void resetVariables();

// The table, built once; its device entry is set when the device opens.
EngineSlotTable* slotTable();
void setSlotTableDevice(IDirect3DDevice9* device);
IDirect3DDevice9* slotTableDevice();

// The time step of vec_accelerate, in ticks: the last frame's duration, at most the
// settingMaxTimeStep when that is above 0.
double timeStepTicks();

struct RunRecord {
    std::int64_t framesDrawn = 0;
    double drawingSeconds = 0; // from the start of the first frame to the end of the last
    bool screenshotFailed = false; // --screenshot was given and its file is not complete
    // --device-loss-in-tower is still to fire; each configuration of the host arms it again.
    bool towerDeviceLossArmed = false;
    std::string renderer;
};
RunRecord& runRecord();

// Problems (missing or corrupt files, failed device calls) always reach standard error;
// diagnostics only with the engine's -diag option.
void reportProblem(const std::string& message);
void diagnostic(const std::string& message);
void setDiagnostics(bool enabled);

} // namespace engine
