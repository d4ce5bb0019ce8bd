// The statistics display: 13 lines drawn through the engine's text output on every main-loop
// pass, all composed in the one text object `hudText`. The lines are computed by a pure
// function from a snapshot of the counters, so their texts, colours and places can be checked
// without running frames.
#pragma once

#include "engine/engine.h"

#include <array>
#include <cstdint>

// What the display reads in one pass.
struct HudCounters {
    std::int32_t vertexCount;
    std::int32_t polygonCount;
    EngineNumber calculationTime; // seconds
    EngineNumber BlockMapMax;     // microseconds
    EngineNumber BlockVertexMax;  // microseconds
    EngineNumber BlockMapSum;     // milliseconds
    EngineNumber BlockVertexSum;  // milliseconds
    EngineNumber maxVertexBlock;
    std::int32_t calculationMode;
    EngineNumber frameDuration; // ticks of 1/16 s
};

struct HudColour {
    int red, green, blue; // 0..255
};

// One draw_text of a line: colour and top-left corner in pixels.
struct HudDraw {
    HudColour colour;
    int x, y;
};

// A line is either a number followed by a suffix (str_for_num, str_cat) or a fixed text,
// optionally followed by a second text (str_cpy, str_cat).
struct HudLine {
    bool showsNumber;
    EngineNumber number;  // passed to str_for_num
    const char* text;     // the suffix after the number, or the fixed text
    const char* appended; // appended to a fixed text, or nullptr
    int drawCount;
    std::array<HudDraw, 3> draws; // in drawing order
    // A count line's count: composed in full where it is beyond what `number` can hold.
    std::int64_t count = 0;
};

constexpr int hudLineCount = 13;

// How the display names each calculation mode; "" for a value that is no mode.
const char* calculationModeText(std::int32_t mode);

// The value of the fps line: 16 / d * 1024 truncated, d the frame duration in ticks. A duration
// of 0 (no frame measured yet) shows 0.
EngineNumber framesPerSecondNumber(EngineNumber frameDuration);

// A count as the engine number that shows it, saturating at the largest engine number.
EngineNumber countAsEngineNumber(std::int32_t count);

std::array<HudLine, hudLineCount> hudLines(const HudCounters& counters);

// Writes the line's text into `text` through the engine's string functions.
void composeHudLine(EngineText* text, const HudLine& line);

// Positions of the number lines whose values the statistics file reports as well.
enum HudLineIndex {
    hudVertexCountLine = 0,
    hudPolygonCountLine = 1,
    hudCalculationTimeLine = 3,
    hudBlockMapMaxLine = 4,
    hudBlockVertexMaxLine = 5,
    hudBlockMapSumLine = 6,
    hudBlockVertexSumLine = 7,
    hudMaxVertexBlockLine = 8,
};

// The shared counters as they stand now, with the given frame duration.
HudCounters currentHudCounters(EngineNumber frameDuration);

// Composes and draws every line, in order, reusing `text`.
void drawHud(EngineText* text, const HudCounters& counters);
