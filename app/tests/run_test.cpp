// The gorvane executable run as a user runs it, headless: the hardware refusal, bad input
// files and outputs, and a scripted flight checked through its statistics file and its
// screenshot.
#include "app/tests/run_gorvane.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stb/stb_image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

// The statistics file at `path`, parsed; a discarded value when it is missing or not JSON.
Json readStatistics(const std::string& path) {
    return Json::parse(readWholeFile(path), nullptr, false);
}

// A number of the statistics object; nullopt when it is absent or no number.
std::optional<double> numberField(const Json& json, const char* name) {
    if (!json.is_object() || !json.contains(name) || !json[name].is_number()) return std::nullopt;
    return json[name].get<double>();
}

// The camera's position or angles; empty when absent.
std::vector<double> cameraField(const Json& json, const char* name) {
    if (!json.is_object() || !json.contains("camera") || !json["camera"].contains(name)) return {};
    return json["camera"][name].get<std::vector<double>>();
}

constexpr const char* refusalText = "You need a gpu with shadermodel 3.0 support";
constexpr const char* refusalCaption = "System requirements not fullfilled";

TEST(GorvaneRun, RefusesHardwareWithoutShaderModel3) {
    const std::string stats = testOutputPath("refused.json");
    const GorvaneRun run = runGorvane(
        "", "--headless --shader-capability 2000 --frames 30 --stats '" + stats + "'", "refused");
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.errors.find(refusalCaption), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(refusalText), std::string::npos) << run.errors;
    // Nothing runs after the refusal: only the two frames before the check were drawn.
    EXPECT_EQ(numberField(readStatistics(stats), "frames"), 2.0);
}

TEST(GorvaneRun, AcceptsTheExactLegacyCapability) {
    const GorvaneRun run = runGorvane("", "--headless --shader-capability 30 --frames 9", "legacy");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors.find(refusalCaption), std::string::npos) << run.errors;
}

TEST(GorvaneRun, HelpSucceedsAndABadOptionStopsBeforeTheEngine) {
    EXPECT_EQ(runGorvane("", "--help > /dev/null", "help").status, 0);
    const GorvaneRun bad = runGorvane("", "--frames many", "bad");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.errors.find("engine:"), std::string::npos) << bad.errors;
}

TEST(GorvaneRun, StatisticsFileThatCannotBeWrittenFailsTheRun) {
    const GorvaneRun run =
        runGorvane("", "--headless --frames 8 --stats /nonexistent-dir/stats.json", "nostats");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.errors.find("/nonexistent-dir/stats.json"), std::string::npos) << run.errors;
}

// One line of standard error names the problem: the run neither aborts nor repeats itself.
void expectOneLine(const GorvaneRun& run, const std::string& problem) {
    std::size_t lines = 0;
    for (std::size_t at = run.errors.find(problem); at != std::string::npos;
         at = run.errors.find(problem, at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << "\"" << problem << "\" in:\n" << run.errors;
}

TEST(GorvaneRun, BadInputFilesAndUnwritableOutputsGetOneLineNeverAnAbort) {
    namespace fs = std::filesystem;
    const fs::path data = testOutputPath("bad_data");
    fs::remove_all(data);
    fs::create_directories(data);
    const fs::path level = data / "level.wmb", skin = data / "mud02.bmp";
    fs::copy_file(fs::path(GORVANE_DATA_DIR) / "level.wmb", level);
    const std::string dataOption = " --data '" + data.string() + "'";
    const std::string run = "--headless --frames 5" + dataOption;

    // A folder where a file belongs: the engine goes on without it.
    fs::create_directory(skin);
    fs::rename(level, data / "level.keep");
    fs::create_directory(level);
    const GorvaneRun folders = runGorvane("", run, "bad_folders");
    EXPECT_EQ(folders.status, 0) << folders.errors;
    expectOneLine(folders, "level.wmb: is a directory");
    expectOneLine(folders, "mud02.bmp: is a directory");
    fs::remove(level);
    fs::rename(data / "level.keep", level);
    fs::remove(skin);

    // A device that never ends.
    fs::create_symlink("/dev/zero", skin);
    const GorvaneRun endless = runGorvane("", run, "bad_endless");
    EXPECT_EQ(endless.status, 0) << endless.errors;
    expectOneLine(endless, "mud02.bmp: is not a regular file");
    fs::remove(skin);

    // Only the bitmap's header: its pixel rows are missing.
    const std::string bitmap = readWholeFile(std::string(GORVANE_DATA_DIR) + "/mud02.bmp");
    std::ofstream(skin, std::ios::binary) << bitmap.substr(0, 54);
    const GorvaneRun truncated = runGorvane("", run, "bad_truncated");
    EXPECT_EQ(truncated.status, 0) << truncated.errors;
    expectOneLine(truncated, "mud02.bmp: the pixel data is shorter than the header says");
    EXPECT_EQ(truncated.errors.find("loaded mud02.bmp"), std::string::npos) << truncated.errors;

    const GorvaneRun keys = runGorvane("", run + " --keys @/tmp", "bad_keys");
    EXPECT_EQ(keys.status, 2);
    expectOneLine(keys, "cannot read the key script \"/tmp\": is a directory");

    // A screenshot that does not reach its file fails the run, as the statistics file does.
    for (const std::string& path : {std::string("/dev/full"), testOutputPath("none/shot.png")}) {
        const GorvaneRun shot =
            runGorvane("", run + " --screenshot '" + path + "'", "bad_screenshot");
        EXPECT_EQ(shot.status, 1) << path << "\n" << shot.errors;
        expectOneLine(shot, "cannot write the screenshot \"" + path + "\"");
        EXPECT_EQ(shot.errors.find("wrote the screenshot"), std::string::npos) << shot.errors;
    }

    // An export: a format it does not know stops the run before the engine; without a Tower
    // each export is one line and fails the run, and no file appears.
    const GorvaneRun format = runGorvane("", run + " --export tower.stl", "bad_export_format");
    EXPECT_EQ(format.status, 2);
    expectOneLine(format, "--export: bad value \"tower.stl\"");
    const std::string tower = testOutputPath("no_tower.glb"), fields = testOutputPath("no_fields");
    const GorvaneRun early = runGorvane(
        "", run + " --export '" + tower + "' --export-density '" + fields + "'", "bad_export");
    EXPECT_EQ(early.status, 1);
    expectOneLine(early, "cannot export the Tower to " + tower + ": there is no Tower yet");
    expectOneLine(early, "cannot export the density fields to " + fields + ": there is no Tower");
    EXPECT_FALSE(fs::exists(tower));
    EXPECT_FALSE(fs::exists(fields));
    fs::remove_all(data);
}

struct Image {
    int width = 0, height = 0;
    std::unique_ptr<unsigned char, decltype(&stbi_image_free)> pixels{nullptr, stbi_image_free};

    const unsigned char* at(int x, int y) const { return pixels.get() + 3 * (y * width + x); }
    bool is(int x, int y, int red, int green, int blue) const {
        const unsigned char* p = at(x, y);
        return p[0] == red && p[1] == green && p[2] == blue;
    }
    // Within one step per channel: panels are alpha-blended, and llvmpipe's 8-bit blending
    // may round an opaque colour by one.
    bool near(int x, int y, int red, int green, int blue) const {
        const unsigned char* p = at(x, y);
        return std::abs(p[0] - red) <= 1 && std::abs(p[1] - green) <= 1 &&
               std::abs(p[2] - blue) <= 1;
    }
};

Image loadPng(const std::string& path) {
    Image image;
    int channels = 0;
    image.pixels.reset(stbi_load(path.c_str(), &image.width, &image.height, &channels, 3));
    return image;
}

// View direction for pan and tilt in degrees: pan 0 faces +x, pan 90 faces +y, tilt 90 +z.
std::array<double, 3> viewDirection(double pan, double tilt) {
    const double p = pan * std::numbers::pi / 180, t = tilt * std::numbers::pi / 180;
    return {std::cos(p) * std::cos(t), std::sin(p) * std::cos(t), std::sin(t)};
}

class ScriptedFlight : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string size = "--headless --size 640x600 --frames 40 ";
        still = runGorvane("", size + "--stats '" + testOutputPath("still.json") + "'", "still");
        flight = runGorvane("",
                            size + "--keys " + keys + " --screenshot '" +
                                testOutputPath("flight.png") + "' --stats '" +
                                testOutputPath("flight.json") + "'",
                            "flight");
        // The same script with far less to draw per frame, so its frames take another time.
        smallFlight = runGorvane("",
                                 "--headless --size 96x64 --frames 40 --keys " + keys +
                                     " --stats '" + testOutputPath("small_flight.json") + "'",
                                 "small_flight");
    }

    static inline const std::string keys = "5-35:W,15-30:Shift";
    static GorvaneRun still, flight, smallFlight;
};

GorvaneRun ScriptedFlight::still, ScriptedFlight::flight, ScriptedFlight::smallFlight;

// The camera of a statistics file: its numbers print exactly, so they read back exactly.
Json cameraOf(const std::string& name) {
    const Json json = readStatistics(testOutputPath(name));
    return json.is_object() && json.contains("camera") ? json["camera"] : Json();
}

TEST_F(ScriptedFlight, TheSameScriptEndsAtTheSameCameraWhateverTheFramesCost) {
    ASSERT_EQ(flight.status, 0) << flight.errors;
    ASSERT_EQ(smallFlight.status, 0) << smallFlight.errors;
    const Json flightCamera = cameraOf("flight.json");
    ASSERT_TRUE(flightCamera.is_object());
    EXPECT_EQ(cameraOf("small_flight.json"), flightCamera);
    EXPECT_NE(cameraOf("still.json"), flightCamera);
}

TEST_F(ScriptedFlight, HoldingWMovesTheCameraAlongItsViewDirection) {
    ASSERT_EQ(still.status, 0) << still.errors;
    ASSERT_EQ(flight.status, 0) << flight.errors;
    const Json stillJson = readStatistics(testOutputPath("still.json"));
    const Json flightJson = readStatistics(testOutputPath("flight.json"));
    EXPECT_EQ(numberField(flightJson, "frames"), 40.0);

    const auto start = cameraField(stillJson, "position");
    const auto end = cameraField(flightJson, "position");
    const auto angles = cameraField(flightJson, "angles");
    ASSERT_EQ(start.size(), 3u);
    ASSERT_EQ(end.size(), 3u);
    ASSERT_EQ(angles.size(), 3u);
    // No turn input in either run: both end with the level's starting angles.
    EXPECT_EQ(cameraField(stillJson, "angles"), angles);

    const auto forward = viewDirection(angles[0], angles[1]);
    double length = 0, along = 0;
    for (int i = 0; i < 3; ++i) {
        const double step = end[i] - start[i];
        length += step * step;
        along += step * forward[i];
    }
    length = std::sqrt(length);
    EXPECT_GT(length, 1.0);
    EXPECT_GT(along, 0.999 * length) << "moved " << length << ", " << along << " of it forward";
}

TEST_F(ScriptedFlight, ScreenshotShowsTheStatisticsAndTheProgressPanels) {
    ASSERT_EQ(flight.status, 0) << flight.errors;
    const Image image = loadPng(testOutputPath("flight.png"));
    ASSERT_NE(image.pixels, nullptr);
    ASSERT_EQ(image.width, 640);
    ASSERT_EQ(image.height, 600);

    // The grey frame over its whole height right of the statistics text, where the bar would
    // lie if it were more than the sliver of 2.5 pixels that start-up gives it.
    int grey = 0, checked = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 200; x < 264; ++x) {
            ++checked;
            grey += image.near(x, y, 64, 64, 64);
        }
    }
    EXPECT_EQ(grey, checked);
    EXPECT_FALSE(image.near(270, 12, 64, 64, 64)); // the frame ends at 264

    // White text in each of the four key lines, and only part of each band.
    for (int line = 0; line < 4; ++line) {
        const int top = 500 + 20 * line;
        int white = 0;
        for (int y = top; y < top + 18; ++y) {
            for (int x = 0; x < 240; ++x)
                white += image.is(x, y, 255, 255, 255);
        }
        EXPECT_GT(white, 20) << "line at " << top;
        EXPECT_LT(white, 240 * 18 / 2) << "line at " << top;
    }

    // The outlined counter lines: white strokes with black beside them.
    int white = 0, black = 0;
    for (int y = 40; y < 80; ++y) {
        for (int x = 0; x < 160; ++x) {
            white += image.is(x, y, 255, 255, 255);
            black += image.is(x, y, 0, 0, 0);
        }
    }
    EXPECT_GT(white, 20);
    EXPECT_GT(black, 20);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// A tower end to end: C in each mode, from the scripted start to the screenshot.
// ---------------------------------------------------------------------------------------------

class TowerRun : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string common = "--headless --size 640x360 --frames 12 ";
        const char* const scripts[3] = {"2:C", "1:M,2:C", "1:M,3:M,5:C"};
        for (int mode = 0; mode < 3; ++mode) {
            const std::string name = "tower" + std::to_string(mode);
            runs[mode] = runGorvane("",
                                    common + "--keys " + scripts[mode] + " --screenshot '" +
                                        testOutputPath(name + ".png") + "' --stats '" +
                                        testOutputPath(name + ".json") + "' --trace '" +
                                        testOutputPath(name + ".trace.json") + "'",
                                    name);
        }
        empty = runGorvane("", common + "--screenshot '" + testOutputPath("no_tower.png") + "'",
                           "no_tower");
    }

    static Json stats(int mode) {
        return readStatistics(testOutputPath("tower" + std::to_string(mode) + ".json"));
    }

    static inline GorvaneRun runs[3];
    static inline GorvaneRun empty;
};

TEST_F(TowerRun, EveryModeBuildsTheWholeTowerFromTheSameField) {
    double polygons[3] = {}, vertices[3] = {};
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        ASSERT_EQ(runs[mode].status, 0) << runs[mode].errors;
        const Json json = stats(mode);
        EXPECT_EQ(numberField(json, "CalculationMode"), mode);
        EXPECT_EQ(numberField(json, "startedBlocks"), 512);
        EXPECT_GT(numberField(json, "calculationTime").value_or(0), 0);
        polygons[mode] = numberField(json, "polygonCount").value_or(0);
        vertices[mode] = numberField(json, "vertexCount").value_or(0);
        EXPECT_GT(polygons[mode], 10000);
        EXPECT_GT(vertices[mode], 10000);
    }
    // The same camera draws the same blocks: the same triangles, unwelded or welded vertices.
    EXPECT_EQ(polygons[1], polygons[0]);
    EXPECT_EQ(polygons[2], polygons[0]);
    EXPECT_EQ(vertices[1], 3 * polygons[1]);
    EXPECT_LE(vertices[2], vertices[0]);
    EXPECT_GE(vertices[2], 0.99 * vertices[0]);
}

TEST_F(TowerRun, ScreenshotShowsALitTerrainOverMuchOfTheViewAndTheCounts) {
    ASSERT_EQ(empty.status, 0) << empty.errors;
    const Image sky = loadPng(testOutputPath("no_tower.png"));
    ASSERT_NE(sky.pixels, nullptr);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        const Image image = loadPng(testOutputPath("tower" + std::to_string(mode) + ".png"));
        ASSERT_NE(image.pixels, nullptr);
        ASSERT_EQ(image.width, sky.width);
        // Terrain: what differs from the same view without a tower, beside the statistics.
        int terrain = 0, pixels = 0;
        double sum = 0, sumOfSquares = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                if (x < 280 && y < 220) continue;
                ++pixels;
                const unsigned char* p = image.at(x, y);
                const unsigned char* q = sky.at(x, y);
                if (std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]) < 12)
                    continue;
                ++terrain;
                const double luminance = 0.3 * p[0] + 0.59 * p[1] + 0.11 * p[2];
                sum += luminance;
                sumOfSquares += luminance * luminance;
            }
        }
        // The whole tower is in view from the start, over about a seventh of it.
        ASSERT_GT(terrain, pixels / 10) << "the terrain covers " << terrain << " of " << pixels;
        const double mean = sum / terrain;
        const double spread = std::sqrt(sumOfSquares / terrain - mean * mean);
        EXPECT_GT(mean, 40) << "lit, not black";
        EXPECT_GT(spread, 12) << "shaded, not one colour";

        // The statistics: the polygon count's line, below the progress panels, differs from the
        // run without a tower, whose counts are 0.
        int changed = 0;
        for (int y = 26; y < 38; ++y)
            for (int x = 0; x < 200; ++x)
                changed += !std::equal(image.at(x, y), image.at(x, y) + 3, sky.at(x, y));
        EXPECT_GT(changed, 20);
    }
}

// The trace of each tower against its statistics: the workers' GPU passes sum to BlockMapSum,
// the tower's slice lasts calculationTime, every block has its slice, and every track nests.
struct TraceSlice {
    std::string name;
    double begin, end; // microseconds
    Json args;
};

// Whether the slices of one track, each inside the one that encloses its start, nest properly.
bool nestsProperly(std::vector<TraceSlice> slices, std::string* problem) {
    std::sort(slices.begin(), slices.end(), [](const TraceSlice& a, const TraceSlice& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    constexpr double rounding = 0.01; // microseconds lost in the file's decimal numbers
    std::vector<const TraceSlice*> open;
    for (const TraceSlice& slice : slices) {
        while (!open.empty() && open.back()->end <= slice.begin + rounding)
            open.pop_back();
        if (!open.empty() && slice.end > open.back()->end + rounding) {
            *problem = slice.name + " at " + std::to_string(slice.begin) + " overlaps the end of " +
                       open.back()->name + " at " + std::to_string(open.back()->end);
            return false;
        }
        open.push_back(&slice);
    }
    return true;
}

TEST_F(TowerRun, TraceAgreesWithTheStatisticsAndNestsOnEveryTrack) {
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        ASSERT_EQ(runs[mode].status, 0) << runs[mode].errors;
        const Json trace = Json::parse(
            readWholeFile(testOutputPath("tower" + std::to_string(mode) + ".trace.json")));
        std::map<int, std::string> trackNames;
        std::map<std::string, std::vector<TraceSlice>> tracks;
        for (const Json& event : trace.at("traceEvents")) {
            if (event.at("ph") == "M" && event.at("name") == "thread_name")
                trackNames[event.at("tid")] = event.at("args").at("name");
        }
        for (const Json& event : trace.at("traceEvents")) {
            if (event.at("ph") != "X") continue;
            const double begin = event.at("ts");
            tracks[trackNames.at(event.at("tid"))].push_back(
                {event.at("name"), begin, begin + event.at("dur").get<double>(),
                 event.value("args", Json::object())});
        }
        const Json json = stats(mode);
        const double blockMapSum = numberField(json, "BlockMapSum").value_or(0);
        const double calculationTime = numberField(json, "calculationTime").value_or(0);

        std::vector<TraceSlice> towers;
        for (const TraceSlice& slice : tracks["main"])
            if (slice.name == "tower") towers.push_back(slice);
        ASSERT_EQ(towers.size(), 1u);
        EXPECT_EQ(towers[0].args.at("mode"), mode);
        EXPECT_NEAR((towers[0].end - towers[0].begin) * 1e-6, calculationTime,
                    1.0 / 16 + 0.02 * calculationTime);

        double passSeconds = 0;
        for (const char* worker : {"worker 0", "worker 1"}) {
            int blocks = 0;
            for (const TraceSlice& slice : tracks[worker]) {
                if (slice.name == "gpu pass") passSeconds += (slice.end - slice.begin) * 1e-6;
                if (slice.name != "block") continue;
                ++blocks;
                EXPECT_EQ(slice.args.at("mode"), mode);
                EXPECT_TRUE(slice.args.contains("triangles") && slice.args.contains("x"));
            }
            EXPECT_EQ(blocks, 256) << worker;
        }
        EXPECT_GT(blockMapSum, 0);
        EXPECT_NEAR(passSeconds, blockMapSum, 0.05 * blockMapSum);

        // The GPU's own stage times, read from its timestamps.
        EXPECT_GE(tracks["gpu"].size(), 512u * 4);
        for (const auto& [name, slices] : tracks) {
            std::string problem;
            EXPECT_TRUE(nestsProperly(slices, &problem)) << name << ": " << problem;
        }
    }
}
