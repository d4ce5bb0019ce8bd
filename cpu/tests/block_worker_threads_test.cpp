// Two workers on part of the tower in each calculation mode, on the program's own engine and
// device: what they add to the totals, and that frames drawn under the tower's locks while they
// run (as progress frames are) only ever find whole meshes.
#include "cpu/block_worker.h"

#include "platform/win32/msvcrt.h"
#include "tables/lookup_textures.h"
#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// Half columns in the middle of the tower, x = 3 (worker 0) and x = 4 (worker 1), y 2..5, every
// height z: 32 blocks each, some of them through the ground.
constexpr BlockRange workerRanges[workerCount] = {{3, 2, 0, 4, 6, 8, 0}, {4, 2, 0, 5, 6, 8, 1}};

class WorkerThreads : public testing::TestWithParam<std::int32_t> {
  protected:
    static void SetUpTestSuite() { startProgram(); }

    void SetUp() override {
        emptyEveryBlock();
        msvcrt::srand(9);
        ASSERT_TRUE(SUCCEEDED(D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr)));
        CalculationMode.store(GetParam());
        vertexCount.store(0);
        polygonCount.store(0);
        for (int t = 0; t < workerCount; ++t) {
            BlockRanges[t] = workerRanges[t];
            workers[t] = CreateThread(nullptr, 0, blockWorker, &BlockRanges[t], 0, nullptr);
            ASSERT_NE(workers[t], nullptr);
        }
    }

    void TearDown() override { CalculationMode.store(CpuMeshGpuDensity); }

    void joinWorkers() {
        EXPECT_EQ(WaitForMultipleObjects(workerCount, workers, TRUE, INFINITE), WAIT_OBJECT_0);
        for (HANDLE worker : workers)
            CloseHandle(worker);
    }

    HANDLE workers[workerCount] = {};
};

TEST_P(WorkerThreads, AddEveryFinishedBlockToTheTotalsOnce) {
    joinWorkers();
    const TowerCounts counts = towerCounts();
    EXPECT_GT(counts.totalTriangles(), 0);
    EXPECT_EQ(counts.totalVertices(), vertexCount.load());
    EXPECT_EQ(counts.totalTriangles(), polygonCount.load());
    expectMeshesMatchCounts();
}

TEST_P(WorkerThreads, FramesUnderTheLockFindOnlyWholeMeshes) {
    int frames = 0;
    while (WaitForMultipleObjects(workerCount, workers, TRUE, 5) == WAIT_TIMEOUT) {
        // As a tower's progress frames do.
        EnterCriticalSection(&GenerationLock);
        EnterCriticalSection(&BlockPublishLock);
        engine_frame();
        expectMeshesMatchCounts();
        LeaveCriticalSection(&BlockPublishLock);
        LeaveCriticalSection(&GenerationLock);
        ++frames;
    }
    joinWorkers();
    EXPECT_GT(frames, 0);
    EXPECT_GT(towerCounts().totalTriangles(), 0);
    expectMeshesMatchCounts();
}

std::string modeName(const testing::TestParamInfo<std::int32_t>& mode) {
    static const char* const names[] = {"CpuMeshGpuDensity", "GpuOnly", "GpuVerticesCpuWeld"};
    return names[mode.param];
}

INSTANTIATE_TEST_SUITE_P(Modes, WorkerThreads,
                         testing::Values(CpuMeshGpuDensity, GpuOnly, GpuVerticesCpuWeld), modeName);

} // namespace
