#include "terrain/terrain_state.h"

#include <condition_variable>
#include <mutex>

std::atomic<std::int32_t> BlockVertexCounts[towerBlockCount];
std::atomic<std::int32_t> BlockTriangleCounts[towerBlockCount];
ID3DXMesh* BlockMeshes[towerBlockCount];
BlockRange BlockRanges[workerCount];

float DensityReadback[workerCount][densityFloatsPerSlot];
std::uint8_t CubeReadback[workerCount][cubeBytesPerSlot];
StagingBuffers WorkerStagingBuffers[workerCount];
std::int32_t SlotTriangleCounts[workerCount];
std::int32_t SlotCpuVertexCounts[workerCount];
std::int32_t SlotCpuTriangleCounts[workerCount];

std::atomic<std::int32_t> CalculationMode;

std::atomic<std::int32_t> vertexCount;
std::atomic<std::int32_t> polygonCount;
std::atomic<EngineNumber> calculationTime;
std::atomic<std::int32_t> startedBlocks;
std::atomic<EngineNumber> tBlockMap;
std::atomic<EngineNumber> BlockMapMax;
std::atomic<EngineNumber> BlockMapSum;
std::atomic<EngineNumber> tBlockVertex;
std::atomic<EngineNumber> BlockVertexMax;
std::atomic<EngineNumber> BlockVertexSum;
std::atomic<EngineNumber> maxVertexBlock;
std::atomic<std::int64_t> towerGpuPassNanoseconds;
std::atomic<std::int64_t> towerCpuWorkNanoseconds;

CRITICAL_SECTION GenerationLock;
CRITICAL_SECTION BlockPublishLock;
ID3DXMesh* SlotUnpublishedMeshes[workerCount];

namespace {

struct MeshWorkGate {
    std::mutex mutex;
    std::condition_variable changed;
    int workersInside = 0;
    bool deviceLost = false;
};
MeshWorkGate meshWorkGate;

} // namespace

MeshWorkScope::MeshWorkScope() {
    std::unique_lock<std::mutex> lock(meshWorkGate.mutex);
    meshWorkGate.changed.wait(lock, [] { return !meshWorkGate.deviceLost; });
    ++meshWorkGate.workersInside;
}

MeshWorkScope::~MeshWorkScope() {
    const std::lock_guard<std::mutex> lock(meshWorkGate.mutex);
    if (--meshWorkGate.workersInside == 0) meshWorkGate.changed.notify_all();
}

void beginDeviceLoss() {
    std::unique_lock<std::mutex> lock(meshWorkGate.mutex);
    meshWorkGate.deviceLost = true;
    meshWorkGate.changed.wait(lock, [] { return meshWorkGate.workersInside == 0; });
}

void endDeviceLoss() {
    const std::lock_guard<std::mutex> lock(meshWorkGate.mutex);
    meshWorkGate.deviceLost = false;
    meshWorkGate.changed.notify_all();
}

bool deviceObjectsReleased() {
    const std::lock_guard<std::mutex> lock(meshWorkGate.mutex);
    return meshWorkGate.deviceLost;
}

void raiseCounter(std::atomic<EngineNumber>& counter, EngineNumber value) {
    EngineNumber seen = counter.load(std::memory_order_relaxed);
    while (value > seen && !counter.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

void announceLargeBlock(std::int32_t vertices) {
    if (vertices > blockVertexWarningCount)
        MessageBoxA(nullptr, "das wird nicht klappen", "info", MB_OK);
}

void reportMeshCreationFailure() {
    MessageBoxA(nullptr, "Error while creating Mesh", "Error", MB_OK);
}
