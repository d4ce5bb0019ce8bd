#include "app/stats_json.h"

#include "engine/engine_handles.h"
#include "terrain/terrain_state.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string formatNumber(double value, const char* format) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// An engine number as the real value it stands for. Every such value has a short exact
// decimal form, which 17 significant digits print without rounding noise.
std::string engineValue(EngineNumber number) {
    return formatNumber(fromEngineNumber(number), "%.17g");
}

std::string engineVector(const EngineVector& vector) {
    return "[" + engineValue(vector.x) + ", " + engineValue(vector.y) + ", " +
           engineValue(vector.z) + "]";
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

} // namespace

RunStatistics currentRunStatistics(std::int64_t frames, double framesPerSecond,
                                   std::string renderer) {
    EngineCamera camera{};
    if (engineSlotTable) {
        camera = engineVariable<EngineCamera>(engineSlotTable, EnginePos::camera);
    }
    return RunStatistics{
        .counters = currentHudCounters(0),
        .startedBlocks = startedBlocks.load(),
        .tBlockMap = tBlockMap.load(),
        .tBlockVertex = tBlockVertex.load(),
        .frames = frames,
        .framesPerSecond = framesPerSecond,
        .renderer = std::move(renderer),
        .camera = camera,
    };
}

std::string statisticsJson(const RunStatistics& statistics) {
    // The display's own line values, so the file and the screen agree.
    const auto lines = hudLines(statistics.counters);
    auto shown = [&lines](HudLineIndex line) { return engineValue(lines[line].number); };
    // The last block timings show as milliseconds while a tower is built.
    auto milliseconds = [](EngineNumber microseconds) { return engineValue(microseconds / 1000); };

    std::string json = "{\n";
    auto field = [&json](const char* name, const std::string& value, bool last = false) {
        json += "  \"";
        json += name;
        json += "\": ";
        json += value;
        json += last ? "\n" : ",\n";
    };
    field("vertexCount", std::to_string(statistics.counters.vertexCount));
    field("polygonCount", std::to_string(statistics.counters.polygonCount));
    field("calculationTime", shown(hudCalculationTimeLine));
    field("startedBlocks", std::to_string(statistics.startedBlocks));
    field("tBlockMap", milliseconds(statistics.tBlockMap));
    field("BlockMapMax", shown(hudBlockMapMaxLine));
    field("BlockMapSum", shown(hudBlockMapSumLine));
    field("tBlockVertex", milliseconds(statistics.tBlockVertex));
    field("BlockVertexMax", shown(hudBlockVertexMaxLine));
    field("BlockVertexSum", shown(hudBlockVertexSumLine));
    field("maxVertexBlock", shown(hudMaxVertexBlockLine));
    field("CalculationMode", std::to_string(statistics.counters.calculationMode));
    field("frames", std::to_string(statistics.frames));
    // JSON has no infinity or NaN; a run without a measured frame reports 0.
    const double fps = std::isfinite(statistics.framesPerSecond) ? statistics.framesPerSecond : 0.0;
    field("fps", formatNumber(fps, "%.2f"));
    field("renderer", jsonString(statistics.renderer));
    field("camera",
          "{\"position\": " + engineVector(statistics.camera.position) +
              ", \"angles\": " + engineVector(statistics.camera.angles) + "}",
          true);
    return json + "}\n";
}

bool writeStatisticsFile(const char* path, const RunStatistics& statistics) {
    std::FILE* file = std::fopen(path, "w");
    if (!file) {
        std::fprintf(stderr, "gorvane: cannot write statistics to %s: %s\n", path,
                     std::strerror(errno));
        return false;
    }
    const std::string json = statisticsJson(statistics);
    const bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "gorvane: cannot write statistics to %s\n", path);
        return false;
    }
    return true;
}
