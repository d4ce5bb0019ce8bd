// The executable's options and the key script.
#include "platform/engine/engine_host.h"
#include "platform/engine/host_options.h"
#include "platform/engine/key_script.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using engine::Key;

struct Outcome {
    int status;
    std::string standardError;
};

Outcome configure(std::initializer_list<const char*> options) {
    std::vector<char*> argv{const_cast<char*>("gorvane")};
    for (const char* option : options)
        argv.push_back(const_cast<char*>(option));
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = engineHostConfigure(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    return {status, testing::internal::GetCapturedStderr()};
}

class HostOptions : public testing::Test {
  protected:
    // Configuring enters the data directory; every test starts from the same place.
    void SetUp() override { startDirectory_ = fs::current_path(); }
    void TearDown() override { fs::current_path(startDirectory_); }

  private:
    fs::path startDirectory_;
};

TEST_F(HostOptions, BadOptionsNameTheProblemShowTheUsageAndGiveStatus2) {
    struct Case {
        std::initializer_list<const char*> options;
        const char* problem;
    };
    const Case cases[] = {
        {{"--fullscreen"}, "unknown option \"--fullscreen\""},
        {{"--size"}, "--size needs a value"},
        {{"--size", "800"}, "--size: bad value \"800\""},
        {{"--size", "32x600"}, "--size: bad value \"32x600\""},
        {{"--size", "800x600x2"}, "--size: bad value"},
        {{"--frames", "0"}, "--frames: bad value \"0\""},
        {{"--frames", "ten"}, "--frames: bad value \"ten\""},
        {{"--device-loss-at", "-3"}, "--device-loss-at: bad value"},
        {{"--shader-capability", "nan"}, "--shader-capability: bad value"},
        {{"--screenshot", ""}, "--screenshot: bad value"},
        {{"--keys", "5:?"}, "unknown key \"?\""},
        {{"--keys", "9-3:W"}, "the hold ends before it starts"},
        {{"--keys", "0:W"}, "frames count from 1"},
        {{"--keys", "2:C,,4:M"}, "is not FRAME:KEY"},
        {{"--keys", "@/nonexistent/keys.txt"},
         "cannot read the key script \"/nonexistent/keys.txt\": cannot open the file"},
        {{"--keys", "@/tmp"}, "cannot read the key script \"/tmp\": is a directory"},
        {{"--keys", "@/dev/zero"}, "cannot read the key script \"/dev/zero\": is not a regular"},
        {{"--time-step", "-0.01"}, "--time-step: bad value \"-0.01\""},
        {{"--time-step", "0.00001"}, "--time-step: bad value"},
        {{"--time-step", "11"}, "--time-step: bad value"},
        {{"--time-step", "inf"}, "--time-step: bad value"},
        {{"--data", "/nonexistent/gorvane-data"}, "\"/nonexistent/gorvane-data\" does not exist"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = configure(c.options);
        EXPECT_EQ(outcome.status, 2) << c.problem;
        EXPECT_NE(outcome.standardError.find(c.problem), std::string::npos)
            << "expected \"" << c.problem << "\" in:\n"
            << outcome.standardError;
        EXPECT_NE(outcome.standardError.find("usage: gorvane"), std::string::npos) << c.problem;
    }
}

TEST_F(HostOptions, HelpGivesStatus1AndListsEveryOptionTheParserKnows) {
    EXPECT_EQ(configure({"--headless", "--help", "--bogus"}).status, 1);
    testing::internal::CaptureStdout();
    char* help[] = {const_cast<char*>("gorvane"), const_cast<char*>("--help")};
    EXPECT_EQ(engineHostConfigure(2, help), 1);
    std::istringstream usage(testing::internal::GetCapturedStdout());
    int listed = 0;
    for (std::string line; std::getline(usage, line);) {
        if (line.rfind("  --", 0) != 0) continue;
        const std::string name = line.substr(2, line.find(' ', 2) - 2);
        const char* argv[] = {"gorvane", name.c_str()};
        const std::string error = engine::parseHostOptions(2, argv).error;
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << error;
        ++listed;
    }
    EXPECT_GE(listed, 11);
}

TEST_F(HostOptions, GoodOptionsAreStoredAndTheDataDirectoryEntered) {
    const fs::path data = fs::canonical(GORVANE_DATA_DIR);
    const Outcome outcome =
        configure({"--headless", "--size", "640x480", "--data", GORVANE_DATA_DIR, "--keys",
                   "2:C, 10-40:w", "--frames", "50", "--screenshot", "shot.png", "--stats",
                   "run.json", "--device-loss-at", "7", "--shader-capability", "30.5",
                   "--time-step", "0.02"});
    ASSERT_EQ(outcome.status, 0) << outcome.standardError;

    const engine::HostOptions& options = engine::hostOptions();
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.width, 640);
    EXPECT_EQ(options.height, 480);
    EXPECT_EQ(options.frameLimit, 50);
    EXPECT_EQ(options.deviceLossFrame, 7);
    EXPECT_EQ(options.shaderCapability, 31232);
    EXPECT_EQ(options.timeStep, 0.02);
    ASSERT_EQ(options.keyScript.size(), 2u);
    EXPECT_EQ(fs::current_path(), data);
}

TEST_F(HostOptions, OutputPathsStayRelativeToWhereTheProgramStarted) {
    const fs::path start = fs::current_path();
    ASSERT_EQ(configure({"--data", GORVANE_DATA_DIR, "--screenshot", "shot.png", "--stats",
                         "out/run.json"})
                  .status,
              0);
    EXPECT_EQ(fs::path(engineHostScreenshotPath()), start / "shot.png");
    EXPECT_EQ(fs::path(engineHostStatsPath()), start / "out/run.json");

    ASSERT_EQ(configure({"--data", GORVANE_DATA_DIR}).status, 0);
    EXPECT_FALSE(engine::hostOptions().timeStep.has_value());
    EXPECT_EQ(engineHostScreenshotPath(), nullptr);
    EXPECT_EQ(engineHostStatsPath(), nullptr);
}

TEST_F(HostOptions, WithoutDataOptionTheDataFolderAboveTheProgramIsFound) {
    fs::current_path(fs::temp_directory_path());
    ASSERT_EQ(configure({"--headless"}).status, 0);
    EXPECT_EQ(fs::current_path(), fs::canonical(GORVANE_DATA_DIR));
}

TEST_F(HostOptions, KeyScriptCanComeFromAFile) {
    const fs::path script = fs::temp_directory_path() / "gorvane_keys_test.txt";
    std::ofstream(script) << "3:M,\n5-6:Space\n";
    const std::string argument = "@" + script.string();
    ASSERT_EQ(configure({"--data", GORVANE_DATA_DIR, "--keys", argument.c_str()}).status, 0);
    fs::remove(script);
    const auto& holds = engine::hostOptions().keyScript;
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_TRUE(engine::scriptHolds(holds, Key::Space, 6));
    EXPECT_TRUE(engine::scriptHolds(holds, engine::letterKey('M' - 'A'), 3));
}

TEST(KeyScript, PressesAndHoldsByFrame) {
    const engine::KeyScriptParse parsed =
        engine::parseKeyScript("2:C,10-40:W, 7 : shift ,3:pageDown");
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    const Key c = engine::letterKey('C' - 'A'), w = engine::letterKey('W' - 'A');
    EXPECT_FALSE(engine::scriptHolds(parsed.holds, c, 1));
    EXPECT_TRUE(engine::scriptHolds(parsed.holds, c, 2));
    EXPECT_FALSE(engine::scriptHolds(parsed.holds, c, 3));
    EXPECT_FALSE(engine::scriptHolds(parsed.holds, w, 9));
    EXPECT_TRUE(engine::scriptHolds(parsed.holds, w, 10));
    EXPECT_TRUE(engine::scriptHolds(parsed.holds, w, 40));
    EXPECT_FALSE(engine::scriptHolds(parsed.holds, w, 41));
    EXPECT_TRUE(engine::scriptHolds(parsed.holds, Key::Shift, 7));
    EXPECT_TRUE(engine::scriptHolds(parsed.holds, Key::PageDown, 3));
    EXPECT_FALSE(engine::scriptHolds(parsed.holds, Key::PageUp, 3));
}

TEST(KeyScript, KeyNames) {
    EXPECT_EQ(engine::keyFromName("a"), engine::letterKey(0));
    EXPECT_EQ(engine::keyFromName("Z"), engine::letterKey(25));
    EXPECT_EQ(engine::keyFromName("ESCAPE"), Key::Escape);
    EXPECT_EQ(engine::keyFromName("ctrl"), Key::Ctrl);
    EXPECT_EQ(engine::keyFromName("Up"), Key::Up);
    EXPECT_FALSE(engine::keyFromName("Down").has_value()); // the engine does not read it
    EXPECT_FALSE(engine::keyFromName("").has_value());
    EXPECT_FALSE(engine::keyFromName("1").has_value());
}

} // namespace
