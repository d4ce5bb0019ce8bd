// The engine's level file ("level.wmb"): reading and writing. The format is described in
// LEVEL_FORMAT.md beside this file. Pure functions over bytes, so the reader can be fuzzed.
#pragma once

#include "engine/engine.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

struct LevelColour {
    std::uint8_t red, green, blue;
    friend bool operator==(const LevelColour&, const LevelColour&) = default;
};

struct LevelSky {
    LevelColour zenith;  // straight up
    LevelColour horizon; // where the sky meets the ground
    LevelColour haze;    // mixed in just above the horizon
    LevelColour ground;  // below the horizon
    friend bool operator==(const LevelSky&, const LevelSky&) = default;
};

struct LevelSun {
    LevelColour colour;
    EngineNumber azimuth;   // degrees, measured like pan
    EngineNumber elevation; // degrees above the horizon
    friend bool operator==(const LevelSun&, const LevelSun&) = default;
};

struct LevelCamera {
    EngineNumber x, y, z;
    EngineNumber pan, tilt, roll;
    friend bool operator==(const LevelCamera&, const LevelCamera&) = default;
};

// Every part is optional; the engine keeps its own for what a level leaves out.
struct Level {
    std::optional<LevelSky> sky;
    std::optional<LevelSun> sun;
    std::optional<LevelCamera> camera;
    friend bool operator==(const Level&, const Level&) = default;
};

// Files above this size are refused unread.
constexpr std::size_t maxLevelFileSize = 1 << 20;

struct LevelParse {
    std::optional<Level> level; // set when the bytes are a valid level
    std::string error;          // why not, otherwise
};

LevelParse parseLevel(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> serializeLevel(const Level& level);

} // namespace engine
