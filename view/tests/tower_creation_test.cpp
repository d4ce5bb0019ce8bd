// Towers on the headless engine: the three calculation modes against each other, the
// workers' totals, the progress frames, and a tower built over another one.
#include "view/tower_creation.h"

#include "cpu/block_worker.h"
#include "platform/win32/msvcrt.h"
#include "tables/lookup_textures.h"
#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

void fillNoise(unsigned seed) {
    msvcrt::srand(seed);
    ASSERT_TRUE(SUCCEEDED(D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr)));
}

// Half columns in the middle of the tower, x = 3 (worker 0) and x = 4 (worker 1), y 2..5, every
// height z: 64 of its blocks, so that the three modes fit the test's time (the whole tower is
// built further down).
constexpr BlockRange middleRanges[workerCount] = {{3, 2, 0, 4, 6, 8, 0}, {4, 2, 0, 5, 6, 8, 1}};

// Both workers over their ranges, as tower creation starts them, but with no frames in between,
// so that the totals hold only what the workers added.
TowerCounts runWorkers(std::int32_t mode) {
    vertexCount.store(0);
    polygonCount.store(0);
    runWorkersOver(middleRanges, mode);

    const TowerCounts counts = towerCounts();
    EXPECT_EQ(counts.totalVertices(), vertexCount.load()) << "mode " << mode;
    EXPECT_EQ(counts.totalTriangles(), polygonCount.load()) << "mode " << mode;
    expectMeshesMatchCounts();
    return counts;
}

// Key C in a frame of its own, as a user presses it (a C that no frame separates from the last
// tower counts as pressed during that tower and is ignored).
void pressC() {
    engine_frame();
    createTower();
}

class Tower : public testing::Test {
  protected:
    static void SetUpTestSuite() { startProgram(); }
    void TearDown() override {
        CalculationMode.store(CpuMeshGpuDensity);
        towerProgressIntervalMs = 5000;
    }
};

TEST_F(Tower, ModesAgreeOnOneNoiseAndWorkersAddEveryBlockOnce) {
    emptyEveryBlock();
    TowerCounts counts[3];
    for (std::int32_t mode : {CpuMeshGpuDensity, GpuOnly, GpuVerticesCpuWeld}) {
        fillNoise(5);
        counts[mode] = runWorkers(mode);
    }
    const TowerCounts& cpu = counts[CpuMeshGpuDensity];
    const TowerCounts& gpu = counts[GpuOnly];
    const TowerCounts& welded = counts[GpuVerticesCpuWeld];

    int blocksWithSurface = 0;
    for (int i = 0; i < towerBlockCount; ++i) {
        // One field, so one triangle count per block, however the triangles are made.
        EXPECT_EQ(gpu.triangles[i], cpu.triangles[i]) << "block " << i;
        EXPECT_EQ(welded.triangles[i], cpu.triangles[i]) << "block " << i;
        EXPECT_EQ(gpu.vertices[i], 3 * gpu.triangles[i]) << "block " << i;
        // The weld merges at least what the CPU mesher shares along grid edges, hardly more.
        EXPECT_LE(welded.vertices[i], cpu.vertices[i]) << "block " << i;
        blocksWithSurface += cpu.triangles[i] > 0;
    }
    EXPECT_GT(blocksWithSurface, 4);
    EXPECT_LT(blocksWithSurface, 64) << "some blocks lie wholly in or out";
    EXPECT_GE(static_cast<double>(welded.totalVertices()), 0.99 * cpu.totalVertices());
}

// Checks, in every frame drawn while a tower is created, that each block the frame may draw
// holds a whole mesh of its counts, and tells the old tower's meshes (built in GpuOnly mode,
// three vertices per triangle) from the new one's (CPU meshes share their vertices).
struct FrameInspection {
    EngineHook renderer = nullptr;
    int halfReplacedBlocks = 0;
    int framesWithOldAndNew = 0;
    int framesDuringCreation = 0;
    bool pressedCDuringCreation = false;
};
FrameInspection inspection;

void inspectingRenderHook() {
    if (inspection.renderer) inspection.renderer();
    if (!towerBeingCreated()) return;
    ++inspection.framesDuringCreation;
    if (!inspection.pressedCDuringCreation) {
        // A C that an engine delivers in one of the tower's own frames.
        inspection.pressedCDuringCreation = true;
        createTower();
    }
    int oldBlocks = 0, newBlocks = 0;
    for (int i = 0; i < towerBlockCount; ++i) {
        const std::int32_t triangles = BlockTriangleCounts[i].load(std::memory_order_acquire);
        if (triangles <= 0) continue;
        ID3DXMesh* mesh = BlockMeshes[i];
        if (!mesh || mesh->GetNumFaces() != static_cast<DWORD>(triangles) ||
            mesh->GetNumVertices() != static_cast<DWORD>(BlockVertexCounts[i].load())) {
            ++inspection.halfReplacedBlocks;
            continue;
        }
        (mesh->GetNumVertices() == 3 * mesh->GetNumFaces() ? oldBlocks : newBlocks) += 1;
    }
    inspection.framesWithOldAndNew += oldBlocks > 0 && newBlocks > 0;
}

EngineHook& renderHookSlot() {
    return engineVariable<EngineHook>(engineSlotTable, EnginePos::renderHook);
}

TEST_F(Tower, ProgressFramesShowOldAndNewBlocksAndAPressMeanwhileChangesNothing) {
    // The old tower: GpuOnly meshes in the middle, where worker 0 arrives last.
    fillNoise(3);
    emptyEveryBlock();
    ASSERT_GT(runWorkers(GpuOnly).totalTriangles(), 0);

    towerProgressIntervalMs = 250;
    CalculationMode.store(CpuMeshGpuDensity);
    inspection = FrameInspection{renderHookSlot()};
    renderHookSlot() = inspectingRenderHook;
    msvcrt::srand(21);
    testing::internal::CaptureStderr();
    pressC();
    renderHookSlot() = inspection.renderer;
    const TowerCounts overOldTower = towerCounts();
    // A C pressed during the tower that this engine queues and delivers as soon as createTower
    // has returned, before any further frame.
    createTower();
    const std::string errors = testing::internal::GetCapturedStderr();

    // Both presses were ignored and said so; the tower is the one of the first press.
    const std::string ignored = "C ignored: a tower is being created\n";
    std::size_t lines = 0;
    for (std::size_t at = errors.find(ignored); at != std::string::npos;
         at = errors.find(ignored, at + 1))
        ++lines;
    EXPECT_EQ(lines, 2u) << errors;
    EXPECT_EQ(towerCounts().triangles, overOldTower.triangles);

    EXPECT_GT(inspection.framesDuringCreation, 3);
    EXPECT_GT(inspection.framesWithOldAndNew, 0);
    EXPECT_EQ(inspection.halfReplacedBlocks, 0);
    EXPECT_FALSE(towerBeingCreated());
    EXPECT_EQ(startedBlocks.load(), towerBlockCount);
    // The bar shows the last progress frame's share: some, never more than all.
    EXPECT_GT(progressBar->scaleX, 0);
    EXPECT_LE(progressBar->scaleX, 1024);
    EXPECT_GE(calculationTime.load(), 0);
    expectMeshesMatchCounts();

    // A run with no tower yet that pressed C at the same point of the random sequence.
    emptyEveryBlock();
    msvcrt::srand(21);
    pressC();
    const TowerCounts fromNothing = towerCounts();
    EXPECT_GT(fromNothing.totalTriangles(), 0);
    EXPECT_EQ(overOldTower.triangles, fromNothing.triangles);
    EXPECT_EQ(overOldTower.vertices, fromNothing.vertices);
    expectMeshesMatchCounts();
}

} // namespace
