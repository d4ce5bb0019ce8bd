#include "cpu/block_worker.h"

#include "engine/engine_handles.h"
#include "cpu/block_meshes.h"
#include "cpu/cpu_marching_cubes.h"
#include "gpu/block_generation.h"

#include <chrono>

namespace {

// Installs `mesh` as block i's mesh with its counts, releasing the mesh it replaces. Under
// BlockPublishLock, so no progress frame is drawing the block meanwhile; the triangle count is
// zeroed first and set last, so a reader that sees it above 0 sees the complete new mesh.
void publishBlockMesh(int i, ID3DXMesh* mesh, std::int32_t vertices, std::int32_t triangles) {
    EnterCriticalSection(&BlockPublishLock);
    BlockTriangleCounts[i].store(0, std::memory_order_release);
    if (BlockMeshes[i]) BlockMeshes[i]->Release();
    BlockMeshes[i] = mesh;
    BlockVertexCounts[i].store(vertices, std::memory_order_relaxed);
    BlockTriangleCounts[i].store(triangles, std::memory_order_release);
    LeaveCriticalSection(&BlockPublishLock);
}

void addToTotals(int i) {
    vertexCount.fetch_add(BlockVertexCounts[i].load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
    polygonCount.fetch_add(BlockTriangleCounts[i].load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
}

// Marches the slot's block on the CPU, timing it in the vertex statistics.
void meshOnCpuTimed(int slot) {
    timer();
    buildBlockOnCpu(0, slot);
    const EngineNumber elapsed = timer();
    tBlockVertex.store(elapsed, std::memory_order_relaxed);
    raiseCounter(BlockVertexMax, elapsed);
    BlockVertexSum.fetch_add(elapsed / 1000, std::memory_order_relaxed);
}

// The CPU mode's finish. False when the mesh could not be created: the worker then stops.
bool finishOnCpu(int slot, int i) {
    if (SlotTriangleCounts[slot] == 0) return true;
    meshOnCpuTimed(slot);
    const std::int32_t vertices = SlotCpuVertexCounts[slot];
    const std::int32_t triangles = SlotCpuTriangleCounts[slot];
    if (triangles <= 0) return true;
    announceLargeBlock(vertices);

    const StagedMesh built = meshFromStaging(slot, d3dDevice);
    switch (built.outcome) {
    case StagedMeshOutcome::built:
        publishBlockMesh(i, built.mesh, vertices, triangles);
        addToTotals(i);
        return true;
    case StagedMeshOutcome::copyFailed:
        // The block stays empty (both counts 0), as if it had no surface.
        return true;
    case StagedMeshOutcome::creationFailed:
        reportMeshCreationFailure();
        publishBlockMesh(i, nullptr, 0, 0);
        return false;
    }
    return true;
}

// The GPU modes' finish: the pass's mesh as it is (the pass set the block's counts from it), or
// welded.
void finishOnGpu(int slot, int i, std::int32_t mode) {
    if (BlockTriangleCounts[i].load(std::memory_order_relaxed) <= 0) return;
    if (mode == GpuVerticesCpuWeld) {
        // A weld that cannot be made leaves the pass's valid, unwelded mesh in place.
        if (ID3DXMesh* welded = weldMesh(BlockMeshes[i], slot, d3dDevice))
            publishBlockMesh(i, welded, static_cast<std::int32_t>(welded->GetNumVertices()),
                             static_cast<std::int32_t>(welded->GetNumFaces()));
    }
    addToTotals(i);
}

} // namespace

DWORD blockWorker(LPVOID rangeRecord) {
    const BlockRange range = *static_cast<const BlockRange*>(rangeRecord);
    for (std::int32_t x = range.x0; x < range.x1; ++x)
        for (std::int32_t y = range.y0; y < range.y1; ++y)
            for (std::int32_t z = range.z0; z < range.z1; ++z) {
                const int i = blockIndex(x, y, z);
                BlockTriangleCounts[i].store(0, std::memory_order_release);
                BlockVertexCounts[i].store(0, std::memory_order_relaxed);
                generateBlockOnGpu(BlockJob{range.slot, x, y, z});
                const std::int32_t mode =
                    SlotCalculationModes[range.slot].load(std::memory_order_relaxed);
                const auto finishStart = std::chrono::steady_clock::now();
                bool carryOn = true;
                if (mode == CpuMeshGpuDensity)
                    carryOn = finishOnCpu(range.slot, i);
                else
                    finishOnGpu(range.slot, i, mode);
                towerCpuWorkNanoseconds.fetch_add(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - finishStart)
                        .count(),
                    std::memory_order_relaxed);
                if (!carryOn) return 0;
            }
    return 0;
}
