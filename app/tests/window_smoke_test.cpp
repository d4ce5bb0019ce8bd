// The window host under a virtual X server: the program opens its window, runs a few frames
// and exits cleanly; in a scripted run its message boxes show on screen and wait for nobody.
#include "app/tests/run_gorvane.h"

#include <stb/stb_image.h>

#include <filesystem>
#include <memory>

namespace {

// No window run may hang, whatever waits for an answer.
const std::string launcher = "timeout -k 5 120 xvfb-run -a";

TEST(GorvaneWindow, OpensRunsAFewFramesAndExits) {
    const GorvaneRun run = runGorvane(launcher, "--frames 10", "window");
    EXPECT_EQ(run.status, 0) << run.errors;
    // The engine's diagnostics (start-up asks for them) say where it draws.
    EXPECT_NE(run.errors.find("drawing into a 1280x720 window"), std::string::npos) << run.errors;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(GorvaneWindow, ScriptedRunShowsEachFxCompileErrorBoxForAFewFramesAndEnds) {
    // The render effect with a syntax error: start-up shows one box, T another.
    namespace fs = std::filesystem;
    const fs::path data = testOutputPath("broken_effect_data");
    fs::remove_all(data);
    fs::copy(GORVANE_DATA_DIR, data, fs::copy_options::recursive);
    std::string effect = readWholeFile((data / "renderMap.fx").string());
    const std::size_t body = effect.find('\n', effect.find("void main() {"));
    ASSERT_NE(body, std::string::npos);
    effect.insert(body + 1, "    float broken = 1.0\n");
    std::ofstream(data / "renderMap.fx", std::ios::binary) << effect;

    // The first box shows from start-up to about frame 36, the second from there on.
    const std::string screenshot = testOutputPath("broken_effect.png");
    const GorvaneRun run = runGorvane(
        launcher, "--size 640x360 --frames 60 --keys 10:T --screenshot '" + screenshot + "'",
        "window_boxes", data.string());
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(occurrences(run.errors, "Fx Compile Error: renderMap.fx("), 2u) << run.errors;
    EXPECT_EQ(occurrences(run.errors,
                          "message box on screen: \"Fx Compile Error\" (shown for 30 frames)"),
              2u)
        << run.errors;

    // The last frame has the second box over it: its body grey covers thousands of pixels.
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load(screenshot.c_str(), &width, &height, &channels, 3), stbi_image_free);
    ASSERT_NE(pixels, nullptr) << screenshot;
    std::size_t bodyPixels = 0;
    for (std::size_t i = 0; i < std::size_t(width) * height * 3; i += 3)
        // 240: the grey of a box body in the engine (messageBoxBodyLevel).
        bodyPixels +=
            pixels.get()[i] == 240 && pixels.get()[i + 1] == 240 && pixels.get()[i + 2] == 240;
    EXPECT_GT(bodyPixels, 5000u);
}

} // namespace
