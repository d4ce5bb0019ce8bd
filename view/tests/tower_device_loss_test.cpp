// A device loss in a tower's progress frames, early and late, in each mode. The device-lost hook
// runs while no worker is inside a GPU pass or mesh work and leaves no default-pool object
// alive; afterwards every block is empty or whole, the tower finishes its remaining blocks after
// the reset, and the next C gives the tower that a C gives without a loss.
#include "view/tower_creation.h"

#include "engine/engine_handles.h"
#include "platform/d3d9/gl_device.h"
#include "platform/win32/msvcrt.h"
#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// 16 blocks around the middle of the tower, 8 for each worker, across the ground.
constexpr BlockRange smallShares[workerCount] = {{3, 3, 2, 4, 5, 6, 0}, {4, 3, 2, 5, 5, 6, 1}};
// Every C here builds from the noise of this seed.
constexpr unsigned towerSeed = 7;

// What the device-lost hook found, wrapped around the program's.
struct Loss {
    int count = 0;
    bool duringTower = false;
    int startedBlocks = -1;
    UINT defaultPoolObjectsLeft = ~0u;
};
Loss loss;
EngineHook programLostHook = nullptr;

void observedLostHook() {
    loss.duringTower = towerBeingCreated();
    loss.startedBlocks = startedBlocks.load();
    programLostHook();
    loss.defaultPoolObjectsLeft = d3d9gl::liveDefaultPoolObjects(d3dDevice);
    ++loss.count;
}

// Frames drawn outside key hooks: the frame numbers of key scripts.
int countedFrames = 0;

void frame(bool pressC) {
    if (pressC) msvcrt::srand(towerSeed);
    engine_frame();
    ++countedFrames;
}

// The host configured again, as at start, with `options`: a new key script, and the device loss
// in a tower armed again.
void configureHost(std::vector<std::string> options) {
    std::vector<std::string> arguments = {"gorvane_test", "--headless", "--data",
                                          GORVANE_DATA_DIR};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    ASSERT_EQ(engineHostConfigure(static_cast<int>(argv.size()), argv.data()), 0);
}

struct TowerRun {
    TowerCounts tower;       // after the C
    TowerCounts secondTower; // after a second C, when asked for
    int nestedFrames = 0;    // frames drawn inside the C's hook
};

// C in the frame after next (a key pressed in two frames in a row is one press), from an empty
// tower, with the device lost in the lossFrame-th progress frame (0: none); with `secondC`, C
// again two frames later.
TowerRun pressC(std::int32_t mode, int lossFrame, bool secondC) {
    CalculationMode.store(mode);
    emptyEveryBlock();
    loss = Loss{};
    const int cFrame = countedFrames + 2;
    std::vector<std::string> options = {
        "--keys", std::to_string(cFrame) + ":C" +
                      (secondC ? "," + std::to_string(cFrame + 2) + ":C" : std::string())};
    if (lossFrame > 0) {
        options.push_back("--device-loss-in-tower");
        options.push_back(std::to_string(lossFrame));
    }
    configureHost(options);
    TowerRun run;
    frame(false);
    const std::int64_t framesBefore = engineHostFramesRun();
    frame(true);
    run.nestedFrames = static_cast<int>(engineHostFramesRun() - framesBefore) - 1;
    run.tower = towerCounts();
    expectMeshesMatchCounts();
    if (secondC) {
        frame(false);
        frame(true);
        run.secondTower = towerCounts();
        expectMeshesMatchCounts();
    }
    return run;
}

int blocksWithTriangles(const TowerCounts& counts) {
    return static_cast<int>(std::count_if(counts.triangles.begin(), counts.triangles.end(),
                                          [](std::int32_t t) { return t > 0; }));
}

// The loss happened once, in the tower, and left nothing alive; every block is as the tower
// without a loss has it, or empty; the blocks begun after the loss are all there.
void expectSoundLoss(const TowerCounts& lossTower, const TowerCounts& reference) {
    EXPECT_EQ(loss.count, 1);
    EXPECT_TRUE(loss.duringTower);
    EXPECT_EQ(loss.defaultPoolObjectsLeft, 0u);
    for (int i = 0; i < towerBlockCount; ++i) {
        if (lossTower.triangles[i] == 0) continue;
        EXPECT_EQ(lossTower.triangles[i], reference.triangles[i]) << "block " << i;
        EXPECT_EQ(lossTower.vertices[i], reference.vertices[i]) << "block " << i;
    }
    const int towerBlocks = 2 * 8;
    EXPECT_GE(blocksWithTriangles(lossTower),
              blocksWithTriangles(reference) - std::min(loss.startedBlocks, towerBlocks))
        << loss.startedBlocks << " blocks had begun at the loss";
}

class TowerDeviceLoss : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        startProgram();
        countedFrames = static_cast<int>(engineHostFramesRun()); // no key hook has drawn yet
        EngineHook& lostHook = engineVariable<EngineHook>(engineSlotTable, EnginePos::deviceLostHook);
        programLostHook = lostHook;
        lostHook = observedLostHook;
        towerProgressIntervalMs = 20;
        std::copy(std::begin(smallShares), std::end(smallShares), std::begin(towerShares));
    }
};

#ifndef GORVANE_ONE_LOSS_CASE
TEST_F(TowerDeviceLoss, EarlyAndLateLossesLeaveBlocksEmptyOrWhole) {
    for (std::int32_t mode : {CpuMeshGpuDensity, GpuOnly}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        const TowerRun reference = pressC(mode, 0, false);
        ASSERT_GT(reference.tower.totalTriangles(), 0);
        ASSERT_EQ(loss.count, 0);
        // The first frame and the two closing ones are no progress frames.
        const int progressFrames = reference.nestedFrames - 3;

        const TowerRun early = pressC(mode, 1, true);
        expectSoundLoss(early.tower, reference.tower);
        EXPECT_EQ(early.secondTower.triangles, reference.tower.triangles);
        EXPECT_EQ(early.secondTower.vertices, reference.tower.vertices);

        const TowerRun late = pressC(mode, std::max(1, progressFrames * 3 / 4), false);
        expectSoundLoss(late.tower, reference.tower);
    }
}
#else
// The ThreadSanitizer run: one tower with a loss, where CPU meshes are made beside the progress
// frames.
TEST_F(TowerDeviceLoss, LossInACpuMeshTowerLeavesBlocksEmptyOrWhole) {
    const TowerRun reference = pressC(CpuMeshGpuDensity, 0, false);
    ASSERT_GT(reference.tower.totalTriangles(), 0);
    const TowerRun lost = pressC(CpuMeshGpuDensity, std::max(1, (reference.nestedFrames - 3) / 2),
                                 false);
    expectSoundLoss(lost.tower, reference.tower);
}
#endif

} // namespace
