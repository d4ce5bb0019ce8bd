#include "app/camera.h"

#include <cmath>
#include <limits>

namespace {

constexpr EngineNumber turnFriction = 819; // 0.7998046875
constexpr EngineNumber moveFriction = 512; // 0.5

// The camera's speeds persist between passes; vec_accelerate keeps them.
EngineVector turnSpeed;
EngineVector moveSpeed;

// Truncates toward zero to a stored integer, saturating where the value would not fit.
EngineNumber truncateToStored(float value) {
    constexpr float largest = 2147483520.0f; // the largest float below 2^31
    if (!(value > -largest)) return std::numeric_limits<EngineNumber>::min();
    if (value > largest) return std::numeric_limits<EngineNumber>::max();
    return static_cast<EngineNumber>(std::trunc(value));
}

EngineNumber& numberAt(EngineSlotTable* table, int position) {
    return *static_cast<EngineNumber*>(engineSlot(table, position));
}

const EngineVector& vectorAt(EngineSlotTable* table, int position) {
    return *static_cast<const EngineVector*>(engineSlot(table, position));
}

MovementKeys heldMovementKeys(EngineSlotTable* table) {
    auto letter = [table](char upper) {
        return numberAt(table, EnginePos::letterKeyState + 4 * engineLetter(upper));
    };
    return MovementKeys{
        .forward = letter('W'),
        .secondForward = numberAt(table, EnginePos::keySecondForward),
        .back = letter('S'),
        .left = letter('A'),
        .right = letter('D'),
        .up = numberAt(table, EnginePos::keyUp),
        .down = numberAt(table, EnginePos::keyDown),
    };
}

} // namespace

EngineVector turnAcceleration(const EngineVector& turnA, const EngineVector& turnB) {
    return EngineVector{-5 * (turnA.x + turnB.x), 5 * (turnA.y + turnB.y), 0};
}

EngineVector movementAcceleration(const MovementKeys& keys, EngineNumber speedUp) {
    const float t = static_cast<float>(speedUp * (1.0 / 1024));
    const EngineNumber forward = 4 * (keys.secondForward + keys.forward - keys.back);
    const EngineNumber sideways = 4 * (keys.left - keys.right);
    return EngineVector{
        truncateToStored(static_cast<float>(forward) * (1.0f + 10.0f * t)),
        truncateToStored(static_cast<float>(sideways) * (1.0f + 3.0f * t)),
        4 * (keys.up - keys.down),
    };
}

void steerCamera(EngineSlotTable* table) {
    auto* camera = static_cast<EngineCamera*>(engineSlot(table, EnginePos::camera));

    EngineVector distance{};
    const EngineVector turn = turnAcceleration(vectorAt(table, EnginePos::turnInputA),
                                               vectorAt(table, EnginePos::turnInputB));
    vec_accelerate(&distance, &turnSpeed, &turn, turnFriction);
    vec_add(&camera->angles, &distance);

    // Movement uses the angles just turned.
    const EngineVector move =
        movementAcceleration(heldMovementKeys(table), numberAt(table, EnginePos::speedUpInput));
    vec_accelerate(&distance, &moveSpeed, &move, moveFriction);
    vec_rotate(&distance, &camera->angles);
    vec_add(&camera->position, &distance);
}
