#include "app/camera.h"

namespace {

constexpr EngineNumber turnFriction = 819; // 0.7998046875
constexpr EngineNumber moveFriction = 512; // 0.5

// The camera's speeds persist between passes; vec_accelerate keeps them.
EngineVector turnSpeed;
EngineVector moveSpeed;

// An engine number scaled in single precision, truncated toward zero.
EngineNumber scaled(EngineNumber number, float factor) {
    return toEngineNumber(static_cast<float>(fromEngineNumber(number)) * factor);
}

EngineNumber numberAt(EngineSlotTable* table, int position) {
    return engineVariable<EngineNumber>(table, position);
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
    const float t = static_cast<float>(fromEngineNumber(speedUp));
    const EngineNumber forward = 4 * (keys.secondForward + keys.forward - keys.back);
    const EngineNumber sideways = 4 * (keys.left - keys.right);
    return EngineVector{
        scaled(forward, 1.0f + 10.0f * t),
        scaled(sideways, 1.0f + 3.0f * t),
        4 * (keys.up - keys.down),
    };
}

void steerCamera(EngineSlotTable* table) {
    EngineCamera* camera = &engineVariable<EngineCamera>(table, EnginePos::camera);

    EngineVector distance{};
    const EngineVector turn =
        turnAcceleration(engineVariable<EngineVector>(table, EnginePos::turnInputA),
                         engineVariable<EngineVector>(table, EnginePos::turnInputB));
    vec_accelerate(&distance, &turnSpeed, &turn, turnFriction);
    vec_add(&camera->angles, &distance);

    // Movement uses the angles just turned.
    const EngineVector move =
        movementAcceleration(heldMovementKeys(table), numberAt(table, EnginePos::speedUpInput));
    vec_accelerate(&distance, &moveSpeed, &move, moveFriction);
    vec_rotate(&distance, &camera->angles);
    vec_add(&camera->position, &distance);
}
