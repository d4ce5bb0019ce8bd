// Conversions between EngineNumber (22.10 fixed point) and real numbers.
#pragma once

#include "engine/engine.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace engine {

constexpr double numberScale = 1024.0;
constexpr EngineNumber largestNumber = std::numeric_limits<EngineNumber>::max();
constexpr EngineNumber smallestNumber = std::numeric_limits<EngineNumber>::min();

constexpr double toReal(EngineNumber number) {
    return number / numberScale;
}

// A stored integer clamped into the 32-bit range.
constexpr EngineNumber saturate(std::int64_t stored) {
    if (stored > largestNumber) return largestNumber;
    if (stored < smallestNumber) return smallestNumber;
    return static_cast<EngineNumber>(stored);
}

// value * 1024 truncated toward zero; values beyond the range saturate, NaN becomes 0.
inline EngineNumber fromReal(double value) {
    const double stored = std::trunc(value * numberScale);
    if (std::isnan(stored)) return 0;
    if (stored >= static_cast<double>(largestNumber)) return largestNumber;
    if (stored <= static_cast<double>(smallestNumber)) return smallestNumber;
    return static_cast<EngineNumber>(stored);
}

constexpr EngineNumber fromWhole(int whole) {
    return saturate(std::int64_t{whole} * 1024);
}

} // namespace engine
