#include "app/effect_keys.h"

#include "engine/engine_handles.h"
#include "app/tests/headless_program.h"
#include "gpu/gpu_resources.h"
#include "platform/win32/message_box_log.h"
#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class EffectKeys : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(headless_program::start("96x64"), StartUpOutcome::running);
        validEffect = new std::string(readFile(effectPath()));
        ASSERT_FALSE(validEffect->empty());
    }
    static void TearDownTestSuite() {
        delete validEffect;
        headless_program::removeDataCopy();
    }

    void SetUp() override { win32::clearMessageBoxHistory(); }
    void TearDown() override {
        writeFile(effectPath(), *validEffect);
        if (!renderEffect) reloadRenderEffect();
    }

    static std::filesystem::path effectPath() {
        return headless_program::dataCopy() / renderEffectFile;
    }

    static std::string* validEffect;
};

std::string* EffectKeys::validEffect;

TEST_F(EffectKeys, MCyclesTheCalculationModeAndThreePressesComeBack) {
    CalculationMode = CpuMeshGpuDensity;
    std::vector<std::int32_t> seen;
    for (int press = 0; press < 3; ++press) {
        headless_program::pressKey('M');
        seen.push_back(CalculationMode);
    }
    EXPECT_EQ(seen, (std::vector<std::int32_t>{GpuOnly, GpuVerticesCpuWeld, CpuMeshGpuDensity}));
    EXPECT_TRUE(win32::messageBoxHistory().empty());
}

TEST_F(EffectKeys, TWithAValidFileMakesAFreshEffectQuietly) {
    headless_program::pressKey('T');
    EXPECT_NE(renderEffect, nullptr);
    EXPECT_TRUE(win32::messageBoxHistory().empty());
}

TEST_F(EffectKeys, TWithASyntaxErrorShowsOneBoxNamingTheLineAndLeavesNoEffect) {
    // A statement without its semicolon at the start of the first main().
    std::string broken = *validEffect;
    const std::size_t vertexMain = broken.find("void main() {");
    ASSERT_NE(vertexMain, std::string::npos);
    const std::size_t bodyStart = broken.find('\n', vertexMain) + 1;
    broken.insert(bodyStart, "    float broken = 1.0\n");
    const int brokenLine =
        1 + static_cast<int>(std::count(broken.begin(), broken.begin() + bodyStart, '\n'));
    writeFile(effectPath(), broken);

    headless_program::pressKey('T');
    EXPECT_EQ(renderEffect, nullptr);
    const auto boxes = win32::messageBoxHistory();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Fx Compile Error");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONWARNING | MB_OK));
    // The compiler may report the error at the broken line or the one after it.
    const std::string text = boxes[0].text;
    EXPECT_TRUE(
        text.find("renderMap.fx(" + std::to_string(brokenLine) + ")") != std::string::npos ||
        text.find("renderMap.fx(" + std::to_string(brokenLine + 1) + ")") != std::string::npos)
        << text << "\nexpected line " << brokenLine;

    // Frames go on without the effect.
    EXPECT_NE(engine_frame(), 0);

    // Fixed file, pressed again: a working effect and no further box.
    writeFile(effectPath(), *validEffect);
    win32::clearMessageBoxHistory();
    headless_program::pressKey('T');
    EXPECT_NE(renderEffect, nullptr);
    EXPECT_TRUE(win32::messageBoxHistory().empty());
}

TEST_F(EffectKeys, TWithTheFileMissingShowsABoxNamingTheFile) {
    std::filesystem::remove(effectPath());
    headless_program::pressKey('T');
    EXPECT_EQ(renderEffect, nullptr);
    const auto boxes = win32::messageBoxHistory();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Fx Compile Error");
    EXPECT_NE(boxes[0].text.find("renderMap.fx"), std::string::npos) << boxes[0].text;
}

} // namespace
