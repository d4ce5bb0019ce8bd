// The range of EngineNumber (22.10 fixed point) and integer arithmetic clamped into it; the
// conversions to and from real numbers are in engine/engine.h.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <limits>

namespace engine {

constexpr EngineNumber largestNumber = std::numeric_limits<EngineNumber>::max();
constexpr EngineNumber smallestNumber = std::numeric_limits<EngineNumber>::min();

// A stored integer clamped into the 32-bit range.
constexpr EngineNumber saturate(std::int64_t stored) {
    if (stored > largestNumber) return largestNumber;
    if (stored < smallestNumber) return smallestNumber;
    return static_cast<EngineNumber>(stored);
}

} // namespace engine
