// Key C as the engine delivers it, and a device loss in the first frame after the tower.
#include "view/tower_creation.h"

#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// C in frame 10 builds the tower in frames nested inside frame 10's key hook; the device is
// lost in frame 11, the first frame after the tower.
constexpr int towerFrame = 10;

TEST(TowerKeys, ScriptedCBuildsATowerAndADeviceLossRightAfterEmptiesIt) {
    towerProgressIntervalMs = 250;
    startProgram({"--keys", "10:C", "--device-loss-at", "11"});
    ASSERT_LT(engineHostFramesRun(), towerFrame) << "start-up draws fewer frames than that";

    while (engineHostFramesRun() < towerFrame - 1)
        engine_frame();
    const std::int64_t framesBefore = engineHostFramesRun();
    engine_frame();

    EXPECT_FALSE(towerBeingCreated());
    EXPECT_GT(engineHostFramesRun() - framesBefore, 4) << "progress frames were drawn";
    EXPECT_GT(towerCounts().totalTriangles(), 0);
    expectMeshesMatchCounts();
    EXPECT_EQ(startedBlocks.load(), towerBlockCount);

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
