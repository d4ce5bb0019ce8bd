// The statistics file written at exit: one JSON object with the shared counters in the units
// the display shows them (seconds, milliseconds, counts), the calculation mode and the run's
// frames, frames per second and renderer, and where the camera ended.
#pragma once

#include "app/hud.h"

#include <cstdint>
#include <string>

struct RunStatistics {
    HudCounters counters;
    std::int32_t startedBlocks;
    EngineNumber tBlockMap;    // microseconds
    EngineNumber tBlockVertex; // microseconds
    std::int64_t frames;
    double framesPerSecond;
    std::string renderer;
    EngineCamera camera;
};

// The shared counters and the camera as they stand now, with the run's figures.
RunStatistics currentRunStatistics(std::int64_t frames, double framesPerSecond,
                                   std::string renderer);

std::string statisticsJson(const RunStatistics& statistics);

// Writes the JSON to `path`; false (after printing why) when the file cannot be written.
bool writeStatisticsFile(const char* path, const RunStatistics& statistics);
