#include "app/hud.h"

#include "terrain/terrain_state.h"

#include <string>

namespace {

constexpr HudColour black{0, 0, 0};
constexpr std::int64_t largestEngineCount = 2097151;
constexpr HudColour white{255, 255, 255};
constexpr HudColour green{0, 255, 0};

// The first four lines carry an outline: black copies one pixel up-left and down-right behind
// the white text.
constexpr HudLine outlinedNumber(EngineNumber number, const char* suffix, int top) {
    const std::array<HudDraw, 3> draws{HudDraw{black, 0, top}, HudDraw{black, 2, top + 2},
                                       HudDraw{white, 1, top + 1}};
    return HudLine{true, number, suffix, nullptr, 3, draws};
}

// A count, shown like an engine number ("393884.000 vertexes") even beyond the engine's range.
HudLine outlinedCount(std::int32_t count, const char* suffix, int top) {
    HudLine line = outlinedNumber(countAsEngineNumber(count), suffix, top);
    line.count = count;
    return line;
}

constexpr HudLine plainNumber(EngineNumber number, const char* suffix, int top) {
    return HudLine{true, number, suffix, nullptr, 1, {HudDraw{green, 0, top}}};
}

constexpr HudLine fixedText(const char* text, const char* appended, int top) {
    return HudLine{false, 0, text, appended, 1, {HudDraw{white, 0, top}}};
}

EngineVector engineColour(const HudColour& colour) {
    return EngineVector{toEngineNumber(colour.red), toEngineNumber(colour.green),
                        toEngineNumber(colour.blue)};
}

} // namespace

const char* calculationModeText(std::int32_t mode) {
    switch (mode) {
    case CpuMeshGpuDensity:
        return "cpu + density map on gpu";
    case GpuOnly:
        return "gpu";
    case GpuVerticesCpuWeld:
        return "gpu + weld on cpu";
    default:
        return "";
    }
}

EngineNumber framesPerSecondNumber(EngineNumber frameDuration) {
    const float ticks = static_cast<float>(fromEngineNumber(frameDuration));
    if (ticks <= 0.0f) return 0;
    // At most 16384 fps for the shortest measurable frame (1/1024 tick), so it always fits.
    return toEngineNumber(16.0f / ticks);
}

EngineNumber countAsEngineNumber(std::int32_t count) {
    return toEngineNumber(count); // saturates
}

std::array<HudLine, hudLineCount> hudLines(const HudCounters& counters) {
    return {
        outlinedCount(counters.vertexCount, " vertexes", 0),
        outlinedCount(counters.polygonCount, " polygons", 19),
        outlinedNumber(framesPerSecondNumber(counters.frameDuration), " fps", 40),
        outlinedNumber(counters.calculationTime, "sec calculationTime", 60),
        // Maxima are microseconds, shown as milliseconds; sums are milliseconds, shown as
        // seconds.
        plainNumber(counters.BlockMapMax / 1000, "ms BlockMapMax", 120),
        plainNumber(counters.BlockVertexMax / 1000, "ms BlockVertexMax", 140),
        plainNumber(counters.BlockMapSum / 1000, "sec BlockMapSum", 160),
        plainNumber(counters.BlockVertexSum / 1000, "sec BlockVertexSum", 180),
        plainNumber(counters.maxVertexBlock, " maxVertexBlock", 200),
        fixedText("(c)  create new tower", nullptr, 500),
        fixedText("(m)  change calculation mode: ", calculationModeText(counters.calculationMode),
                  520),
        fixedText("(w a s d)  camera movement", nullptr, 540),
        fixedText("DualCore mode", nullptr, 560),
    };
}

void composeHudLine(EngineText* text, const HudLine& line) {
    // A whole tower of GPU vertices passes 2,097,151, the largest count an engine number holds.
    if (line.count > largestEngineCount) {
        str_cpy(text, (std::to_string(line.count) + ".000").c_str());
        str_cat(text, line.text);
        return;
    }
    if (line.showsNumber) {
        str_for_num(text, line.number);
        str_cat(text, line.text);
        return;
    }
    str_cpy(text, line.text);
    if (line.appended) str_cat(text, line.appended);
}

HudCounters currentHudCounters(EngineNumber frameDuration) {
    return HudCounters{
        .vertexCount = vertexCount.load(),
        .polygonCount = polygonCount.load(),
        .calculationTime = calculationTime.load(),
        .BlockMapMax = BlockMapMax.load(),
        .BlockVertexMax = BlockVertexMax.load(),
        .BlockMapSum = BlockMapSum.load(),
        .BlockVertexSum = BlockVertexSum.load(),
        .maxVertexBlock = maxVertexBlock.load(),
        .calculationMode = CalculationMode.load(),
        .frameDuration = frameDuration,
    };
}

void drawHud(EngineText* text, const HudCounters& counters) {
    for (const HudLine& line : hudLines(counters)) {
        composeHudLine(text, line);
        for (int i = 0; i < line.drawCount; ++i) {
            const HudDraw& draw = line.draws[i];
            const EngineVector colour = engineColour(draw.colour);
            draw_text(text->characters, toEngineNumber(draw.x), toEngineNumber(draw.y), &colour);
        }
    }
}
