#include "app/stats_json.h"

#include "engine/engine_handles.h"
#include "terrain/terrain_state.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

using Json = nlohmann::ordered_json;

// An engine number as the real value it stands for; every such value is a double exactly, and
// the JSON writer prints the shortest form that reads back as that double.
double engineValue(EngineNumber number) {
    return fromEngineNumber(number);
}

Json engineVector(const EngineVector& vector) {
    return Json::array({engineValue(vector.x), engineValue(vector.y), engineValue(vector.z)});
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
    // JSON has no infinity or NaN; a run without a measured frame reports 0. Two decimals.
    const double fps = std::isfinite(statistics.framesPerSecond)
                           ? std::round(statistics.framesPerSecond * 100) / 100
                           : 0.0;

    Json json;
    json["vertexCount"] = statistics.counters.vertexCount;
    json["polygonCount"] = statistics.counters.polygonCount;
    json["calculationTime"] = shown(hudCalculationTimeLine);
    json["startedBlocks"] = statistics.startedBlocks;
    json["tBlockMap"] = milliseconds(statistics.tBlockMap);
    json["BlockMapMax"] = shown(hudBlockMapMaxLine);
    json["BlockMapSum"] = shown(hudBlockMapSumLine);
    json["tBlockVertex"] = milliseconds(statistics.tBlockVertex);
    json["BlockVertexMax"] = shown(hudBlockVertexMaxLine);
    json["BlockVertexSum"] = shown(hudBlockVertexSumLine);
    json["maxVertexBlock"] = shown(hudMaxVertexBlockLine);
    json["CalculationMode"] = statistics.counters.calculationMode;
    json["frames"] = statistics.frames;
    json["fps"] = fps;
    json["renderer"] = statistics.renderer;
    json["camera"] = {{"position", engineVector(statistics.camera.position)},
                      {"angles", engineVector(statistics.camera.angles)}};
    // A renderer name that is not UTF-8 is written with replacement characters, never thrown.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
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
