// Key C as the engine delivers it: a second C pressed while the tower is being created, and a
// device loss in the first frame after the tower.
#include "view/tower_creation.h"

#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// C in frame 10 builds the tower in frames nested inside frame 10's key hook; C again in frame
// 13, one of its progress frames. The device is lost in the first frame from 11 on that is not
// nested in a key hook: the frame after the tower.
constexpr int towerFrame = 10;

TEST(TowerKeys, SecondCDuringATowerIsIgnoredAndADeviceLossEmptiesTheTower) {
    towerProgressIntervalMs = 250;
    startProgram({"--keys", "10:C,13:C", "--device-loss-at", "11"});
    ASSERT_LT(engineHostFramesRun(), towerFrame) << "start-up draws fewer frames than that";

    testing::internal::CaptureStderr();
    while (engineHostFramesRun() < towerFrame - 1)
        engine_frame();
    const std::int64_t framesBefore = engineHostFramesRun();
    engine_frame();
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(towerBeingCreated());
    EXPECT_GT(engineHostFramesRun() - framesBefore, 4) << "progress frames were drawn";
    EXPECT_GT(towerCounts().totalTriangles(), 0);
    expectMeshesMatchCounts();
    EXPECT_EQ(startedBlocks.load(), towerBlockCount);
    const std::string ignored = "C ignored: a tower is being created";
    const std::size_t first = errors.find(ignored);
    EXPECT_NE(first, std::string::npos) << errors;
    EXPECT_EQ(errors.find(ignored, first + 1), std::string::npos) << errors;

    engine_frame();
    for (int i = 0; i < towerBlockCount; ++i) {
        EXPECT_EQ(BlockTriangleCounts[i].load(), 0) << "block " << i;
        EXPECT_EQ(BlockMeshes[i], nullptr) << "block " << i;
    }
    // The tower stays empty until the next C.
    engine_frame();
    EXPECT_EQ(towerCounts().totalTriangles(), 0);
}

} // namespace
