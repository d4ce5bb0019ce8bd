#include "engine/engine_handles.h"
#include "app/startup.h"
#include "platform/engine/engine_host.h"
#include "platform/win32/message_box_log.h"
#include "platform/win32/msvcrt.h"

#include <gtest/gtest.h>

#include <array>

namespace {

EngineNumber setting(int position) {
    return *static_cast<EngineNumber*>(engineSlot(engineSlotTable, position));
}

// Where the program's generator stands: the number of draws since seeding with 1 after which
// `next` follows, or -1 if it does not follow within `limit` draws.
long drawsSinceSeedOne(const std::array<int, 4>& next, long limit) {
    msvcrt::srand(1);
    std::array<int, 4> window{};
    for (int& value : window)
        value = msvcrt::rand();
    for (long draws = 0; draws < limit; ++draws) {
        if (window == next) return draws;
        for (std::size_t i = 0; i + 1 < window.size(); ++i)
            window[i] = window[i + 1];
        window.back() = msvcrt::rand();
    }
    return -1;
}

class StartUp : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        char* argv[] = {const_cast<char*>("app_startup_test"), const_cast<char*>("--headless"),
                        const_cast<char*>("--data"),           const_cast<char*>(GORVANE_DATA_DIR),
                        const_cast<char*>("--size"),           const_cast<char*>("640x600")};
        ASSERT_EQ(engineHostConfigure(6, argv), 0);
        win32::clearMessageBoxHistory();
        msvcrt::srand(4711); // start-up must reseed
        outcome = startUp();
        for (int& value : randomAfterStartUp)
            value = msvcrt::rand();
    }

    static StartUpOutcome outcome;
    static std::array<int, 4> randomAfterStartUp;
};

StartUpOutcome StartUp::outcome;
std::array<int, 4> StartUp::randomAfterStartUp;

TEST_F(StartUp, AcceptsTheEnginesHardwareQuietly) {
    EXPECT_EQ(outcome, StartUpOutcome::running);
    EXPECT_TRUE(win32::messageBoxHistory().empty());
}

TEST_F(StartUp, WritesTheEngineSettings) {
    EXPECT_EQ(setting(EnginePos::settingHorizonHaze), 7168);
    EXPECT_EQ(setting(EnginePos::settingMaxTimeStep), 2048);
    EXPECT_EQ(setting(EnginePos::settingFrameRateLimit), 0);
    EXPECT_EQ(setting(EnginePos::settingSunSize), 32768);
    EXPECT_EQ(setting(EnginePos::settingFieldOfView), 102400);
    EXPECT_EQ(setting(EnginePos::settingNearClip), 4096);
}

TEST_F(StartUp, SeedsTheProgramsGeneratorWithOne) {
    // Later start-up steps may draw from it; what comes next must still continue seed 1's
    // sequence.
    EXPECT_GE(drawsSinceSeedOne(randomAfterStartUp, 16 << 20), 0);
}

TEST_F(StartUp, HoldsTheDeviceAndTheMipMappedSkin) {
    ASSERT_NE(d3dDevice, nullptr);
    EXPECT_EQ(d3dDevice, engineSlot(engineSlotTable, EnginePos::device));
    ASSERT_NE(skinBitmap, nullptr);
    EXPECT_NE(skinBitmap->texture, nullptr);
}

TEST_F(StartUp, ProgressBarLiesOverItsFrame) {
    ASSERT_NE(progressBar, nullptr);
    ASSERT_NE(progressFrame, nullptr);
    EXPECT_NE(progressBar, progressFrame);

    EXPECT_TRUE(progressBar->flags & panelVisible);
    EXPECT_EQ(progressBar->x, 4 * 1024);
    EXPECT_EQ(progressBar->y, 4 * 1024);
    EXPECT_EQ(progressBar->width, 256 * 1024);
    EXPECT_EQ(progressBar->height, 16 * 1024);
    EXPECT_EQ(progressBar->scaleX, 10);
    ASSERT_NE(progressBar->bitmap, nullptr);
    EXPECT_EQ(progressBar->bitmap->width, 256);
    EXPECT_EQ(progressBar->bitmap->height, 16);

    EXPECT_TRUE(progressFrame->flags & panelVisible);
    EXPECT_EQ(progressFrame->x, 0);
    EXPECT_EQ(progressFrame->y, 0);
    EXPECT_EQ(progressFrame->width, 264 * 1024);
    EXPECT_EQ(progressFrame->height, 24 * 1024);
    ASSERT_NE(progressFrame->bitmap, nullptr);
    EXPECT_EQ(progressFrame->bitmap->width, 264);
    EXPECT_EQ(progressFrame->bitmap->height, 24);

    EXPECT_GT(progressBar->layer, progressFrame->layer);
}

TEST_F(StartUp, StatisticsTextHoldsTheLongestLine) {
    ASSERT_NE(hudText, nullptr);
    EXPECT_GE(hudText->capacity, 54);
}

} // namespace
