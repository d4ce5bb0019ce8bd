#include "app/stats_json.h"

#include "app/tests/json_fields.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

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
    const std::string json = statisticsJson(sampleStatistics());
    const std::pair<const char*, double> expected[] = {
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
    };
    for (const auto& [name, value] : expected) {
        const auto field = jsonNumberField(json, name);
        ASSERT_TRUE(field.has_value()) << name << " missing in\n" << json;
        EXPECT_DOUBLE_EQ(*field, value) << name;
    }
    EXPECT_EQ(jsonStringField(json, "renderer"), "llvmpipe \"LLVM 15\" \\ x");
    EXPECT_EQ(jsonNumberArray(json, "position"), (std::vector<double>{1.0, -2.5, 500.0}));
    EXPECT_EQ(jsonNumberArray(json, "angles"), (std::vector<double>{90.0, -0.5, 0.0}));
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.substr(json.size() - 2), "}\n");
}

TEST(StatisticsJson, ControlCharactersAndMissingFiguresStayValid) {
    RunStatistics statistics = sampleStatistics();
    statistics.renderer = "a\nb\tc";
    statistics.framesPerSecond = std::numeric_limits<double>::infinity();
    const std::string json = statisticsJson(statistics);
    EXPECT_NE(json.find("\"a\\u000ab\\u0009c\""), std::string::npos) << json;
    EXPECT_EQ(jsonNumberField(json, "fps"), 0.0);
}

TEST(StatisticsJson, UnwritablePathIsReported) {
    EXPECT_FALSE(writeStatisticsFile("/nonexistent-dir/stats.json", sampleStatistics()));
}

} // namespace
