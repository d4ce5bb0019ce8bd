#include "app/hud.h"
#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The engine's own text for a number, composed in a separate text object.
std::string engineNumberText(EngineNumber number) {
    static EngineText* text = str_create("#100");
    str_for_num(text, number);
    return text->characters;
}

std::string composed(const HudLine& line) {
    static EngineText* text = str_create("#100");
    composeHudLine(text, line);
    return text->characters;
}

constexpr HudCounters sampleCounters{
    .vertexCount = 1234,
    .polygonCount = 411,
    .calculationTime = 12800,      // 12.5 s
    .BlockMapMax = 45500 * 1024,   // 45.5 ms in microseconds
    .BlockVertexMax = 7999 * 1024, // 7.999 ms
    .BlockMapSum = 3210 * 1024,    // 3.21 s in milliseconds
    .BlockVertexSum = 999 * 1024,  // just under a second
    .maxVertexBlock = 6144 * 1024,
    .calculationMode = GpuOnly,
    .frameDuration = 256, // a quarter tick: 64 fps
};

TEST(HudLines, TextsAreTheNumbersTheCountersShowFollowedByTheirSuffixes) {
    const auto lines = hudLines(sampleCounters);
    const std::vector<std::string> expected{
        engineNumberText(1234 * 1024) + " vertexes",
        engineNumberText(411 * 1024) + " polygons",
        engineNumberText(64 * 1024) + " fps",
        engineNumberText(12800) + "sec calculationTime",
        engineNumberText(45 * 1024 + 512) + "ms BlockMapMax",
        engineNumberText(8190) + "ms BlockVertexMax",
        engineNumberText(3287) + "sec BlockMapSum",
        engineNumberText(1022) + "sec BlockVertexSum",
        engineNumberText(6144 * 1024) + " maxVertexBlock",
        "(c)  create new tower",
        "(m)  change calculation mode: gpu",
        "(w a s d)  camera movement",
        "DualCore mode",
    };
    ASSERT_EQ(lines.size(), expected.size());
    // As the display shows them, with the engine's three decimals.
    EXPECT_EQ(composed(lines[0]), "1234.000 vertexes");
    EXPECT_EQ(composed(lines[4]), "45.500ms BlockMapMax");
    EXPECT_EQ(composed(lines[6]), "3.210sec BlockMapSum");
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(composed(lines[i]), expected[i]) << i;
}

TEST(HudLines, ModeLineNamesEachCalculationMode) {
    const std::string prefix = "(m)  change calculation mode: ";
    const std::pair<std::int32_t, std::string> modes[] = {
        {CpuMeshGpuDensity, "cpu + density map on gpu"},
        {GpuOnly, "gpu"},
        {GpuVerticesCpuWeld, "gpu + weld on cpu"},
        {3, ""},
        {-1, ""},
    };
    for (const auto& [mode, name] : modes) {
        HudCounters counters = sampleCounters;
        counters.calculationMode = mode;
        EXPECT_EQ(composed(hudLines(counters)[10]), prefix + name) << mode;
    }
    // The longest line the display ever holds.
    HudCounters counters = sampleCounters;
    counters.calculationMode = CpuMeshGpuDensity;
    EXPECT_EQ(composed(hudLines(counters)[10]).size(), 54u);
}

TEST(HudLines, CountsShowInFullBeyondTheEngineRange) {
    HudCounters counters = sampleCounters;
    counters.vertexCount = 2'097'151; // the largest count an engine number holds
    counters.polygonCount = 3'000'000;
    const auto lines = hudLines(counters);
    EXPECT_EQ(composed(lines[0]), engineNumberText(2097151 * 1024) + " vertexes");
    EXPECT_EQ(composed(lines[0]), "2097151.000 vertexes");
    EXPECT_EQ(composed(lines[1]), "3000000.000 polygons");
    EXPECT_EQ(countAsEngineNumber(2097151), 2097151 * 1024);
    EXPECT_EQ(countAsEngineNumber(2097152), 2147483647);
    EXPECT_EQ(countAsEngineNumber(-5), -5 * 1024);
}

TEST(HudLines, FramesPerSecondFromTheFrameDuration) {
    EXPECT_EQ(framesPerSecondNumber(1024), 16 * 1024); // one tick is 1/16 s
    EXPECT_EQ(framesPerSecondNumber(256), 64 * 1024);
    EXPECT_EQ(framesPerSecondNumber(3072), 5461); // 5.333 fps, truncated
    EXPECT_EQ(framesPerSecondNumber(1), 16 * 1024 * 1024);
    EXPECT_EQ(framesPerSecondNumber(0), 0);
}

TEST(HudLines, ColoursAndPlaces) {
    const auto lines = hudLines(sampleCounters);
    const HudColour black{0, 0, 0}, white{255, 255, 255}, green{0, 255, 0};
    auto same = [](const HudDraw& a, const HudDraw& b) {
        return a.x == b.x && a.y == b.y && a.colour.red == b.colour.red &&
               a.colour.green == b.colour.green && a.colour.blue == b.colour.blue;
    };
    // Lines 1 to 4: black outline copies up-left and down-right, the white text last.
    const int outlinedTops[] = {0, 19, 40, 60};
    for (int i = 0; i < 4; ++i) {
        const int top = outlinedTops[i];
        ASSERT_EQ(lines[i].drawCount, 3) << i;
        EXPECT_TRUE(same(lines[i].draws[0], {black, 0, top})) << i;
        EXPECT_TRUE(same(lines[i].draws[1], {black, 2, top + 2})) << i;
        EXPECT_TRUE(same(lines[i].draws[2], {white, 1, top + 1})) << i;
    }
    for (int i = 4; i < 9; ++i) {
        ASSERT_EQ(lines[i].drawCount, 1) << i;
        EXPECT_TRUE(same(lines[i].draws[0], {green, 0, 120 + 20 * (i - 4)})) << i;
    }
    for (int i = 9; i < 13; ++i) {
        ASSERT_EQ(lines[i].drawCount, 1) << i;
        EXPECT_TRUE(same(lines[i].draws[0], {white, 0, 500 + 20 * (i - 9)})) << i;
    }
}

} // namespace
