#include "app/startup.h"

#include "app/effect_keys.h"
#include "app/export_keys.h"
#include "app/main_loop.h"
#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "platform/win32/msvcrt.h"
#include "platform/win32/windows.h"
#include "view/terrain_render.h"
#include "view/tower_creation.h"

namespace {

void writeSetting(int position, EngineNumber value) {
    engineVariable<EngineNumber>(engineSlotTable, position) = value;
}

void registerHook(int position, EngineHook hook) {
    engineVariable<EngineHook>(engineSlotTable, position) = hook;
}

void frames(int count) {
    for (int i = 0; i < count; ++i)
        engine_frame();
}

// Fills the whole bitmap with one colour at full opacity.
void fillBitmap(EngineBitmap* bitmap, int red, int green, int blue) {
    const EngineVector colour{toEngineNumber(red), toEngineNumber(green), toEngineNumber(blue)};
    bmap_fill(bitmap, &colour, toEngineNumber(100));
}

void showPanel(EnginePanel* panel, EngineBitmap* bitmap, int x, int y, int width, int height) {
    panel->flags |= panelVisible;
    panel->bitmap = bitmap;
    panel->x = toEngineNumber(x);
    panel->y = toEngineNumber(y);
    panel->width = toEngineNumber(width);
    panel->height = toEngineNumber(height);
}

// The bar starts as a sliver (10/1024 of its width); tower creation widens it as blocks finish.
void createProgressPanels() {
    progressBar = pan_create(" ", toEngineNumber(100));
    EngineBitmap* barBitmap =
        bmap_createblack(toEngineNumber(256), toEngineNumber(16), toEngineNumber(24));
    fillBitmap(barBitmap, 255, 255, 255);
    showPanel(progressBar, barBitmap, 4, 4, 256, 16);
    progressBar->scaleX = 10;

    // The frame reaches 4 pixels beyond the full bar on every side, one layer below it.
    EngineBitmap* frameBitmap =
        bmap_createblack(toEngineNumber(264), toEngineNumber(24), toEngineNumber(24));
    progressFrame = pan_create(" ", toEngineNumber(99));
    fillBitmap(frameBitmap, 64, 64, 64);
    showPanel(progressFrame, frameBitmap, 0, 0, 264, 24);
}

} // namespace

bool shaderCapabilityAccepted(EngineNumber capability) {
    return capability >= toEngineNumber(3030) || capability == toEngineNumber(30);
}

StartUpOutcome startUp() {
    engineSlotTable = engine_open("-diag -nx 160 -nwnd", nullptr);
    // Every run draws the same sequence of noise volumes, so towers repeat from run to run.
    msvcrt::srand(1);

    writeSetting(EnginePos::settingHorizonHaze, toEngineNumber(7));
    writeSetting(EnginePos::settingMaxTimeStep, toEngineNumber(2));
    writeSetting(EnginePos::settingFrameRateLimit, 0);
    writeSetting(EnginePos::settingSunSize, toEngineNumber(32));
    frames(2);

    const EngineNumber capability =
        engineVariable<EngineNumber>(engineSlotTable, EnginePos::shaderCapability);
    if (!shaderCapabilityAccepted(capability)) {
        MessageBoxA(nullptr, "You need a gpu with shadermodel 3.0 support",
                    "System requirements not fullfilled", MB_OK);
        sys_exit(" ");
        return StartUpOutcome::refused;
    }

    d3dDevice = static_cast<IDirect3DDevice9*>(engineSlot(engineSlotTable, EnginePos::device));

    level_load("level.wmb");
    frames(2);

    skinBitmap = bmap_create("mud02.bmp");
    bmap_to_mipmap(skinBitmap);
    bmap_preload(skinBitmap);
    frames(1);

    createGpuResources();

    writeSetting(EnginePos::settingFieldOfView, toEngineNumber(100));
    writeSetting(EnginePos::settingNearClip, toEngineNumber(4));
    frames(1);

    createProgressPanels();

    // The render, key C/T/M/E, device-lost and device-reset hooks are registered here.
    registerHook(EnginePos::deviceLostHook, releaseDeviceResources);
    registerHook(EnginePos::deviceResetHook, restoreDeviceResources);
    registerHook(EnginePos::renderHook, renderTower);
    registerHook(EnginePos::letterKeyHook + 4 * engineLetter('C'), createTower);
    registerHook(EnginePos::letterKeyHook + 4 * engineLetter('M'), nextCalculationMode);
    registerHook(EnginePos::letterKeyHook + 4 * engineLetter('T'), reloadRenderEffect);
    registerHook(EnginePos::letterKeyHook + 4 * engineLetter('E'), exportTowerKey);

    // Room for the longest statistics line (54 characters).
    hudText = str_create("#100");

    return engine_frame() == 0 ? StartUpOutcome::engineEnded : StartUpOutcome::running;
}

int gorvaneMain() {
    switch (startUp()) {
    case StartUpOutcome::refused:
        return -1;
    case StartUpOutcome::engineEnded:
        break;
    case StartUpOutcome::running:
        runMainLoop();
        break;
    }
    // The Tower as the last frame left it.
    return runRequestedExports() ? 0 : 1;
}
