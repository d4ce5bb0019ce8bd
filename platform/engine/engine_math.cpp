// The engine's number and vector helpers and its timer.
#include "engine/engine.h"

#include "platform/engine/camera_math.h"
#include "platform/engine/engine_numbers.h"
#include "platform/engine/engine_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>
#include <cmath>
#include <numbers>

namespace {

std::int64_t nowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When the calling thread last called timer(); its first call measures from its first use of
// the timer, so that call returns about 0.
thread_local std::int64_t previousTimerCall = nowMicroseconds();

} // namespace

EngineVector* _vec(float x, float y, float z) {
    // A few temporaries per thread, reused in turn, so that several may be alive in one
    // expression.
    thread_local EngineVector temporaries[16];
    thread_local unsigned next = 0;
    EngineVector* vector = &temporaries[next++ % 16];
    *vector = EngineVector{toEngineNumber(x), toEngineNumber(y), toEngineNumber(z)};
    return vector;
}

// With T the time step in ticks (engine::timeStepTicks) and f the friction:
//   speed += acceleration * T - min(f * T, 1) * speed;   distance = speed * T.
// So the speed tends to acceleration / f units per tick while the acceleration lasts and
// decays by the share f * T per tick without it.
void vec_accelerate(EngineVector* distance, EngineVector* speed, const EngineVector* acceleration,
                    EngineNumber friction) {
    const double step = engine::timeStepTicks();
    const double damping = std::clamp(fromEngineNumber(friction) * step, 0.0, 1.0);
    auto advance = [&](EngineNumber& velocity, EngineNumber accelerationComponent) {
        velocity = toEngineNumber(fromEngineNumber(velocity) + fromEngineNumber(accelerationComponent) * step -
                            damping * fromEngineNumber(velocity));
        return toEngineNumber(fromEngineNumber(velocity) * step);
    };
    const EngineVector moved{advance(speed->x, acceleration->x), advance(speed->y, acceleration->y),
                             advance(speed->z, acceleration->z)};
    *distance = moved;
}

void vec_rotate(EngineVector* vector, const EngineVector* angles) {
    const engine::Real3 turned =
        engine::rotateFromCamera({fromEngineNumber(vector->x), fromEngineNumber(vector->y), fromEngineNumber(vector->z)},
                                 fromEngineNumber(angles->x), fromEngineNumber(angles->y), fromEngineNumber(angles->z));
    *vector = EngineVector{toEngineNumber(turned.x), toEngineNumber(turned.y), toEngineNumber(turned.z)};
}

void vec_add(EngineVector* a, const EngineVector* b) {
    a->x = engine::saturate(std::int64_t{a->x} + b->x);
    a->y = engine::saturate(std::int64_t{a->y} + b->y);
    a->z = engine::saturate(std::int64_t{a->z} + b->z);
}

// Rounded to the nearest stored integer, so that exact sines (0.5 at 30 degrees) stay exact.
EngineNumber sinv(EngineNumber angle) {
    // Reduced to one turn first, so large angles keep their precision.
    const double degrees = std::fmod(fromEngineNumber(angle), 360.0);
    constexpr EngineNumber one = toEngineNumber(1);
    return static_cast<EngineNumber>(
        std::lround(std::sin(degrees * (std::numbers::pi / 180.0)) * one));
}

EngineNumber maxv(EngineNumber a, EngineNumber b) {
    return std::max(a, b);
}

EngineNumber timer() {
    // Each thread has its own interval: the two workers time their steps at the same time, and
    // one worker's call must not cut the other's interval short.
    const std::int64_t now = nowMicroseconds();
    const std::int64_t previous = std::exchange(previousTimerCall, now);
    // An interval beyond about 2.1 s does not fit in microseconds times 1024.
    return toEngineNumber(static_cast<double>(now - previous));
}
