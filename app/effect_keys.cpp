#include "app/effect_keys.h"

#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "terrain/terrain_state.h"

void nextCalculationMode() {
    // Only the main thread writes the mode, so a load and a store lose no update.
    CalculationMode.store((CalculationMode.load() + 1) % 3);
}

void reloadRenderEffect() {
    if (renderEffect) renderEffect->Release();
    renderEffect = createEffectReportingErrors(d3dDevice, renderEffectFile, renderEffectFlags);
}
