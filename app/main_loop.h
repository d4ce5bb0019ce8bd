// The main loop: each pass steers the camera, draws the statistics display, animates the
// engine's angle pair and runs one frame, until the engine ends.
#pragma once

#include "engine/engine.h"

// The angle pair's phase after a frame of `frameDuration` ticks: it grows by a tenth of the
// duration's stored integer (truncated), kept within one turn so it never overflows.
EngineNumber nextCyclePhase(EngineNumber cyclePhase, EngineNumber frameDuration);

// The pair's second component for the sine of the phase: (sine + 1.0) * 40, from 0 to 80.
EngineNumber anglePairSwing(EngineNumber sine);

// Runs passes until a frame returns 0; returns 0. Start-up has already run the frame before
// the first pass.
int runMainLoop();
