#include "app/main_loop.h"

#include "app/camera.h"
#include "app/export_keys.h"
#include "app/hud.h"
#include "engine/engine_handles.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr std::int64_t fullTurn = toEngineNumber(360);

EngineNumber numberAt(int position) {
    return engineVariable<EngineNumber>(engineSlotTable, position);
}

void animateAnglePair(EngineNumber& cyclePhase) {
    cyclePhase = nextCyclePhase(cyclePhase, numberAt(EnginePos::frameDuration));
    EngineNumber* pair = &engineVariable<EngineNumber>(engineSlotTable, EnginePos::anglePair);
    pair[0] = cyclePhase;
    pair[1] = anglePairSwing(sinv(cyclePhase));
}

} // namespace

EngineNumber nextCyclePhase(EngineNumber cyclePhase, EngineNumber frameDuration) {
    const auto grown = static_cast<std::int64_t>(std::trunc(frameDuration * 0.1 + cyclePhase));
    return static_cast<EngineNumber>((grown % fullTurn + fullTurn) % fullTurn);
}

EngineNumber anglePairSwing(EngineNumber sine) {
    return (sine + toEngineNumber(1)) * 40;
}

int runMainLoop() {
    EngineNumber cyclePhase = 0;
    do {
        steerCamera(engineSlotTable);
        drawHud(hudText, currentHudCounters(numberAt(EnginePos::frameDuration)));
        drawExportNotice();
        animateAnglePair(cyclePhase);
    } while (engine_frame() != 0);
    return 0;
}
