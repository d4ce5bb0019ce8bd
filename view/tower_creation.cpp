#include "view/tower_creation.h"

#include "engine/engine_handles.h"
#include "cpu/block_worker.h"
#include "platform/trace/trace.h"
#include "tables/lookup_textures.h"
#include "terrain/terrain_state.h"

#include <atomic>
#include <cstdio>
#include <string>

DWORD towerProgressIntervalMs = 5000;
BlockRange towerShares[workerCount] = {
    {0, 0, 0, 4, towerBlocksPerAxis, towerBlocksPerAxis, 0},
    {4, 0, 0, towerBlocksPerAxis, towerBlocksPerAxis, towerBlocksPerAxis, 1}};

namespace {

std::atomic<bool> creatingTower{false};
// The engine queues the presses made during the frames that createTower draws and calls the
// hook for them once it returns, before any further frame: a press whose call finds the frame
// count where the last tower ended was made while that tower was being created.
std::int64_t framesWhenLastTowerEnded = -1;

EngineNumber runningTime() {
    return engineVariable<EngineNumber>(engineSlotTable, EnginePos::runningTime);
}

void resetTowerStatistics() {
    vertexCount.store(0);
    polygonCount.store(0);
    BlockVertexMax.store(0);
    BlockMapMax.store(0);
    BlockVertexSum.store(0);
    BlockMapSum.store(0);
    towerGpuPassNanoseconds.store(0);
    towerCpuWorkNanoseconds.store(0);
}

// One progress line: `number` as text followed by `suffix`, drawn at (x, y) in one colour.
void drawNumberLine(EngineText* text, EngineNumber number, const char* suffix, int x, int y,
                    float red, float green, float blue) {
    str_for_num(text, number);
    str_cat(text, suffix);
    draw_text(text->characters, toEngineNumber(x), toEngineNumber(y), _vec(red, green, blue));
}

// The share of blocks whose GPU pass has begun, the last pass and mesh timings, and one frame
// showing every block that has triangles now, of the new tower or still of the old one.
void drawProgressFrame(EngineText* progressText) {
    EnterCriticalSection(&GenerationLock);
    EnterCriticalSection(&BlockPublishLock);
    const float fraction = static_cast<float>(startedBlocks.load() * 0.001953125);
    progressBar->scaleX = toEngineNumber(fraction);

    // The percentage in white on a black outline.
    str_for_num(progressText,
                toEngineNumber(static_cast<float>(100.0f * fraction)));
    str_cat(progressText, "%");
    draw_text(progressText->characters, toEngineNumber(10), toEngineNumber(0), _vec(0, 0, 0));
    draw_text(progressText->characters, toEngineNumber(12), toEngineNumber(2), _vec(0, 0, 0));
    draw_text(progressText->characters, toEngineNumber(11), toEngineNumber(1), _vec(255, 255, 255));

    drawNumberLine(progressText, tBlockMap.load() / 1000, "ms tBlockMap", 0, 20, 0, 255, 0);
    drawNumberLine(progressText, tBlockVertex.load() / 1000, "ms tBlockVertex", 0, 40, 0, 255, 0);
    engine_frame();
    LeaveCriticalSection(&BlockPublishLock);
    LeaveCriticalSection(&GenerationLock);
}

// Starts one worker per range; returns how many started, their handles first in `workers`.
DWORD startWorkers(HANDLE (&workers)[workerCount]) {
    DWORD started = 0;
    for (int t = 0; t < workerCount; ++t) {
        BlockRanges[t] = towerShares[t];
        HANDLE worker = CreateThread(nullptr, 0, blockWorker, &BlockRanges[t], 0, nullptr);
        if (worker)
            workers[started++] = worker;
        else
            std::fprintf(
                stderr,
                "cannot start the worker for blocks x %d to %d; they keep their old state\n",
                BlockRanges[t].x0, BlockRanges[t].x1 - 1);
    }
    return started;
}

void waitForWorkers(HANDLE (&workers)[workerCount], DWORD count, EngineText* progressText) {
    if (count == 0) return;
    while (WaitForMultipleObjects(count, workers, TRUE, towerProgressIntervalMs) == WAIT_TIMEOUT)
        drawProgressFrame(progressText);
    WaitForMultipleObjects(count, workers, TRUE, INFINITE);
    for (DWORD t = 0; t < count; ++t)
        CloseHandle(workers[t]);
}

} // namespace

bool towerBeingCreated() {
    return creatingTower.load();
}

void createTower() {
    // The frames drawn below may deliver another C; a second pair of workers on the same slots
    // would corrupt both towers.
    if (creatingTower.load() || engine_frames_drawn() == framesWhenLastTowerEnded) {
        std::fprintf(stderr, "C ignored: a tower is being created\n");
        return;
    }
    creatingTower.store(true);

    trace::Slice refill("noise refill");
    D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr);
    refill.end();
    // The tower's slice spans what calculationTime measures: the engine samples its running time
    // as a frame begins, so from the start of the first frame to the start of the last one.
    trace::Slice towerSlice("tower");
    const std::int32_t mode = CalculationMode.load();
    towerSlice.arg("mode", mode);
    trace::appendMetadata("tower modes", std::to_string(mode));
    engine_frame();
    const EngineNumber startTicks = runningTime();
    resetTowerStatistics();
    EngineText* progressText = str_create("#100");
    startedBlocks.store(0);

    HANDLE workers[workerCount] = {};
    const DWORD started = startWorkers(workers);
    waitForWorkers(workers, started, progressText);

    engine_frame();
    towerSlice.end();
    engine_frame();
    calculationTime.store((runningTime() - startTicks) / 16);
    framesWhenLastTowerEnded = engine_frames_drawn();
    creatingTower.store(false);
}
