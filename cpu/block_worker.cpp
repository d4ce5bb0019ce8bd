#include "cpu/block_worker.h"

#include "engine/engine_handles.h"
#include "cpu/block_meshes.h"
#include "cpu/cpu_marching_cubes.h"
#include "gpu/block_generation.h"
#include "platform/trace/trace.h"

#include <chrono>
#include <string>

namespace {

// Installs the slot's unpublished mesh as block i's mesh with its counts, releasing the mesh it
// replaces; a device loss since the mesh was made has released it, and the block stays empty.
// Under BlockPublishLock, so no progress frame is drawing the block meanwhile; the triangle count
// is zeroed first and set last, so a reader that sees it above 0 sees the complete new mesh.
// False when there was no mesh to publish.
bool publishSlotMesh(int slot, int i) {
    const trace::Slice publish("publish");
    EnterCriticalSection(&BlockPublishLock);
    ID3DXMesh* const mesh = SlotUnpublishedMeshes[slot];
    SlotUnpublishedMeshes[slot] = nullptr;
    if (mesh != nullptr) {
        BlockTriangleCounts[i].store(0, std::memory_order_release);
        if (BlockMeshes[i]) BlockMeshes[i]->Release();
        BlockMeshes[i] = mesh;
        BlockVertexCounts[i].store(static_cast<std::int32_t>(mesh->GetNumVertices()),
                                   std::memory_order_relaxed);
        BlockTriangleCounts[i].store(static_cast<std::int32_t>(mesh->GetNumFaces()),
                                     std::memory_order_release);
    }
    LeaveCriticalSection(&BlockPublishLock);
    return mesh != nullptr;
}

// Adds a block with triangles (a device loss may have emptied it since it was made).
void addToTotals(int i) {
    const std::int32_t triangles = BlockTriangleCounts[i].load(std::memory_order_acquire);
    if (triangles <= 0) return;
    vertexCount.fetch_add(BlockVertexCounts[i].load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
    polygonCount.fetch_add(triangles, std::memory_order_relaxed);
}

// After a failed mesh creation: both counts 0 and no mesh.
void emptyBlock(int i) {
    EnterCriticalSection(&BlockPublishLock);
    BlockTriangleCounts[i].store(0, std::memory_order_release);
    BlockVertexCounts[i].store(0, std::memory_order_relaxed);
    if (BlockMeshes[i]) BlockMeshes[i]->Release();
    BlockMeshes[i] = nullptr;
    LeaveCriticalSection(&BlockPublishLock);
}

// Marches the slot's block on the CPU, timing it in the vertex statistics.
void meshOnCpuTimed(int slot) {
    const trace::Slice meshing("cpu meshing");
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

    StagedMeshOutcome outcome;
    {
        const MeshWorkScope work;
        const trace::Slice building("mesh");
        const StagedMesh built = meshFromStaging(slot, d3dDevice);
        outcome = built.outcome;
        SlotUnpublishedMeshes[slot] = built.mesh;
    }
    switch (outcome) {
    case StagedMeshOutcome::built:
        if (publishSlotMesh(slot, i)) addToTotals(i);
        return true;
    case StagedMeshOutcome::copyFailed:
        // The block stays empty (both counts 0), as if it had no surface.
        return true;
    case StagedMeshOutcome::creationFailed:
        reportMeshCreationFailure();
        emptyBlock(i);
        return false;
    }
    return true;
}

// The GPU modes' finish: the pass's mesh as it is (the pass set the block's counts from it), or
// welded.
void finishOnGpu(int slot, int i, std::int32_t mode) {
    if (mode == GpuVerticesCpuWeld) {
        {
            // Inside mesh work, the pass's mesh is not released under the weld; a device loss
            // since the pass has released it already and emptied the block.
            const MeshWorkScope work;
            if (BlockTriangleCounts[i].load(std::memory_order_acquire) <= 0) return;
            const trace::Slice weld("weld");
            SlotUnpublishedMeshes[slot] = weldMesh(BlockMeshes[i], slot, d3dDevice);
        }
        // A weld that cannot be made leaves the pass's valid, unwelded mesh in place.
        publishSlotMesh(slot, i);
    }
    addToTotals(i);
}

} // namespace

DWORD blockWorker(LPVOID rangeRecord) {
    const BlockRange range = *static_cast<const BlockRange*>(rangeRecord);
    trace::nameThisThread("worker " + std::to_string(range.slot));
    for (std::int32_t x = range.x0; x < range.x1; ++x)
        for (std::int32_t y = range.y0; y < range.y1; ++y)
            for (std::int32_t z = range.z0; z < range.z1; ++z) {
                const int i = blockIndex(x, y, z);
                trace::Slice block("block");
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
                block.arg("x", x);
                block.arg("y", y);
                block.arg("z", z);
                block.arg("mode", mode);
                block.arg("vertices", BlockVertexCounts[i].load(std::memory_order_relaxed));
                block.arg("triangles", BlockTriangleCounts[i].load(std::memory_order_relaxed));
                if (!carryOn) {
                    publishPendingGpuTimes();
                    return 0;
                }
            }
    publishPendingGpuTimes();
    return 0;
}
