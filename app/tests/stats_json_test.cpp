#include "app/stats_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iterator>
#include <limits>

namespace {

using Json = nlohmann::ordered_json;

RunStatistics sampleStatistics() {
    return RunStatistics{
        .counters =
            HudCounters{
                .vertexCount = 90000,
                .polygonCount = 30000,
                .calculationTime = 12800,
                .BlockMapMax = 45500 * 1024,
                .BlockVertexMax = 2250 * 1024,
                .BlockMapSum = 3210 * 1024,
                .BlockVertexSum = 1500 * 1024,
                .maxVertexBlock = 6144 * 1024,
                .calculationMode = 2,
                .frameDuration = 1024,
            },
        .startedBlocks = 512,
        .tBlockMap = 6000 * 1024,
        .tBlockVertex = 1250 * 1024,
        .frames = 40,
        .framesPerSecond = 123.456,
        .renderer = "llvmpipe \"LLVM 15\" \\ x",
        .camera = EngineCamera{{1024, -2560, 512000}, {92160, -512, 0}},
    };
}

TEST(StatisticsJson, ReportsEveryCounterInTheUnitsTheDisplayShows) {
    const std::string text = statisticsJson(sampleStatistics());
    const Json json = Json::parse(text);
    const std::pair<const char*, Json> expected[] = {
        {"vertexCount", 90000},
        {"polygonCount", 30000},
        {"calculationTime", 12.5}, // seconds
        {"startedBlocks", 512},
        {"tBlockMap", 6.0},            // milliseconds: 6144000 / 1000 stored
        {"BlockMapMax", 45.5},         // milliseconds
        {"BlockMapSum", 3.2099609375}, // seconds: 3287040 / 1000 stored
        {"tBlockVertex", 1.25},
        {"BlockVertexMax", 2.25},
        {"BlockVertexSum", 1.5},
        {"maxVertexBlock", 6144},
        {"CalculationMode", 2},
        {"frames", 40},
        {"fps", 123.46},
        {"renderer", "llvmpipe \"LLVM 15\" \\ x"},
        {"camera", {{"position", {1.0, -2.5, 500.0}}, {"angles", {90.0, -0.5, 0.0}}}},
    };
    // The keys in this order and no others.
    ASSERT_EQ(json.size(), std::size(expected)) << text;
    auto field = json.begin();
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(field.key(), name);
        EXPECT_EQ(field.value(), value) << name;
        ++field;
    }
    EXPECT_EQ(text.back(), '\n');
}

TEST(StatisticsJson, ControlCharactersAndMissingFiguresStayValid) {
    RunStatistics statistics = sampleStatistics();
    statistics.renderer = "a\nb\tc\xff";
    statistics.framesPerSecond = std::numeric_limits<double>::infinity();
    const Json json = Json::parse(statisticsJson(statistics));
    EXPECT_EQ(json["renderer"], "a\nb\tc\xef\xbf\xbd"); // the stray byte replaced
    EXPECT_EQ(json["fps"], 0.0);
}

TEST(StatisticsJson, UnwritablePathIsReported) {
    EXPECT_FALSE(writeStatisticsFile("/nonexistent-dir/stats.json", sampleStatistics()));
}

} // namespace
