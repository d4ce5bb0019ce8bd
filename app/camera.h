// Flying the camera: turn and movement from the engine's input variables, once per main-loop
// pass. The acceleration rules are pure functions so they can be checked without an engine.
#pragma once

#include "engine/engine.h"

// The movement keys as the engine stores them: 1.0 (1024) while held, else 0.
struct MovementKeys {
    EngineNumber forward = 0;       // W
    EngineNumber secondForward = 0; // the engine's second forward key
    EngineNumber back = 0;          // S
    EngineNumber left = 0;          // A
    EngineNumber right = 0;         // D
    EngineNumber up = 0;
    EngineNumber down = 0;
};

// Turn acceleration from the two x/y turn inputs, exact on stored integers:
// (-5 (a.x + b.x), 5 (a.y + b.y), 0).
EngineVector turnAcceleration(const EngineVector& turnA, const EngineVector& turnB);

// Movement acceleration in camera space (x forward, y left, z up) for the held keys and the
// speed-up input: forward and back grow by 1 + 10 t, sideways by 1 + 3 t, vertical not at all.
EngineVector movementAcceleration(const MovementKeys& keys, EngineNumber speedUp);

// One pass of camera steering: turns the camera, then moves it along the turned axes. Keeps the
// turn and movement speeds from pass to pass.
void steerCamera(EngineSlotTable* table);
