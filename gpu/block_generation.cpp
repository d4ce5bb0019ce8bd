#include "gpu/block_generation.h"

#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "gpu/pass_stages.h"
#include "terrain/scoped_lock.h"
#include "platform/trace/trace.h"
#include "tables/lookup_textures.h"

#include <cassert>
#include <chrono>
#include <cmath>
#include <cstring>

std::atomic<std::int32_t> SlotCalculationModes[workerCount];

namespace {

using Clock = std::chrono::steady_clock;

// Begin, every pass with one quad, End. A technique that cannot begin draws nothing.
void runTechnique(IDirect3DDevice9* device) {
    UINT passes = 0;
    if (FAILED(generationEffect->Begin(&passes, 0))) return;
    for (UINT p = 0; p < passes; ++p) {
        generationEffect->BeginPass(p);
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        generationEffect->EndPass();
    }
    generationEffect->End();
}

void drawInto(IDirect3DDevice9* device, IDirect3DSurface9* target, D3DXHANDLE technique) {
    device->SetRenderTarget(0, target);
    generationEffect->SetTechnique(technique);
}

// Copies `rows` rows of `rowBytes` from a target into memory through its readback copy.
// `destination` holds rows * rowBytes bytes; the readback has at least that many rows and bytes
// a row. False when the copy or the lock failed: `destination` then holds nothing of this pass.
bool readRows(IDirect3DDevice9* device, const RenderTarget& target, const Readback& readback,
              void* destination, UINT rows, UINT rowBytes) {
    assert(destination != nullptr && rows > 0 && rowBytes > 0);
    if (FAILED(device->GetRenderTargetData(target.surface, readback.surface))) return false;
    const LockedSurface locked(readback.surface, D3DLOCK_READONLY);
    if (!locked) return false;
    assert(static_cast<UINT>(locked.pitch()) >= rowBytes);
    for (UINT r = 0; r < rows; ++r)
        std::memcpy(static_cast<std::uint8_t*>(destination) + std::size_t{r} * rowBytes,
                    locked.as<const std::uint8_t>() + std::size_t{r} * locked.pitch(), rowBytes);
    return true;
}

// The pyramid's total, truncated. A total that cannot be read, or that is no count at all (not
// finite, or past the 32-bit range, as a broken effect may leave it), counts as no triangles.
std::int32_t readTriangleTotal(IDirect3DDevice9* device) {
    float total[4] = {};
    if (!readRows(device, PolyCountPyramid[pyramidLevels - 1], TotalReadback, total, 1,
                  sizeof total))
        return 0;
    const float sum = total[1] + total[0] + total[2] + total[3];
    constexpr float countRange = 2147483648.0f; // 2^31
    if (!std::isfinite(sum) || sum >= countRange || sum <= -countRange) return 0;
    return static_cast<std::int32_t>(sum);
}

// Whether every object the pass needs in `mode` for `slot` exists: none is missing after a
// creation that failed, and none is released while the device is lost.
// The density stage's objects alone.
bool densityObjectsPresent() {
    return !deviceObjectsReleased() && generationEffect != nullptr && QuadDeclaration != nullptr &&
           SliceQuad != nullptr && DensityMap.surface != nullptr && NoiseVolume != nullptr;
}

bool passObjectsPresent(std::int32_t mode, int slot) {
    if (!densityObjectsPresent() || FullQuad == nullptr || CubeMap.surface == nullptr ||
        TotalReadback.surface == nullptr || PolyCountTexture == nullptr || RayTexture == nullptr)
        return false;
    for (const RenderTarget& level : PolyCountPyramid)
        if (level.surface == nullptr) return false;
    if (mode == CpuMeshGpuDensity)
        return DensityMapReadback.surface != nullptr && CubeMapReadback.surface != nullptr &&
               WorkerStagingBuffers[slot].vertices != nullptr &&
               WorkerStagingBuffers[slot].indices != nullptr;
    return VertexTarget.surface != nullptr && MeshVertexTarget.surface != nullptr &&
           MeshVertexReadback.surface != nullptr && TriangleTableTexture != nullptr;
}

// The mesh's vertices from MeshVertexTarget and its identity indices. False when a copy or a
// lock failed; the mesh is then not whole.
bool fillGpuMesh(IDirect3DDevice9* device, ID3DXMesh* mesh, int vertices) {
    if (FAILED(device->GetRenderTargetData(MeshVertexTarget.surface, MeshVertexReadback.surface)))
        return false;
    const LockedSurface locked(MeshVertexReadback.surface, D3DLOCK_READONLY);
    const LockedMeshVertices meshVertices({mesh}, D3DLOCK_DISCARD, bool(locked));
    const LockedMeshIndices meshIndices({mesh}, D3DLOCK_DISCARD, bool(meshVertices));
    if (!meshIndices) return false;
    // Rows of 512 texels of 16 bytes are contiguous: vertex n is at byte 32n.
    assert(locked.pitch() == static_cast<INT>(meshVertexTargetWidth * 16));
    std::memcpy(meshVertices.as<void>(), locked.as<void>(), std::size_t(vertices) * 32);
    std::memcpy(meshIndices.as<void>(), IdentityIndices,
                std::size_t(vertices) * sizeof IdentityIndices[0]);
    return true;
}

// The GPU modes' mesh: createVertex and createVertexNormal, then the vertices read back into a
// new mesh. False when the mesh could not be made (the block then stays empty).
bool buildGpuMesh(IDirect3DDevice9* device, int block, std::int32_t triangles,
                  PassStages& stages) {
    drawInto(device, VertexTarget.surface, "createVertex");
    generationEffect->SetTexture("g_txMapDepth", DensityMap.texture);
    generationEffect->SetTexture("g_txTriTable", TriangleTableTexture);
    generationEffect->SetTexture("g_txIndex", CubeMap.texture);
    const D3DXHANDLE levels[pyramidLevels] = {"g_txMap1", "g_txMap2", "g_txMap3", "g_txMap4"};
    for (int k = 0; k < pyramidLevels; ++k)
        generationEffect->SetTexture(levels[k], PolyCountPyramid[k].texture);
    generationEffect->SetInt("g_numPolys", triangles);
    runTechnique(device);

    drawInto(device, MeshVertexTarget.surface, "createVertexNormal");
    generationEffect->SetTexture("g_txVertex", VertexTarget.texture);
    generationEffect->SetInt("g_numPolys", triangles);
    runTechnique(device);
    stages.stop("vertices", &GpuPassTimes::vertices);

    const int vertices = 3 * triangles;
    announceLargeBlock(vertices);
    raiseCounter(maxVertexBlock, toEngineNumber(vertices));

    if (BlockMeshes[block] != nullptr) BlockMeshes[block]->Release();
    BlockMeshes[block] = nullptr;
    if (vertices > blockMeshVertexLimit ||
        FAILED(D3DXCreateMesh(triangles, vertices, D3DXMESH_DYNAMIC, MeshDeclaration, device,
                              &BlockMeshes[block]))) {
        BlockMeshes[block] = nullptr;
        reportMeshCreationFailure();
        return false;
    }

    const bool filled = fillGpuMesh(device, BlockMeshes[block], vertices);
    stages.stop("read-back", &GpuPassTimes::readbacks);
    if (!filled) { // a mesh of whatever the buffers held: the block stays empty instead
        BlockMeshes[block]->Release();
        BlockMeshes[block] = nullptr;
        return true;
    }
    BlockVertexCounts[block].store(vertices, std::memory_order_relaxed);
    BlockTriangleCounts[block].store(triangles, std::memory_order_release);
    return true;
}

// The density stage: block (x, y, z)'s field from the noise volume, one slice strip at a time,
// into DensityMap. The caller has set the quad declaration; the stage leaves DensityMap as the
// render target with no depth surface. Returns the block's "g_pos", which later stages use.
D3DXVECTOR4 renderDensityMap(IDirect3DDevice9* device, int x, int y, int z) {
    const BlockPosition position = blockPosition(x, y, z);
    const D3DXVECTOR4 gPos(position.x, position.y, position.z, position.w);
    generationEffect->SetTexture("g_txNoise", NoiseVolume);
    generationEffect->SetTechnique("createMapSlice");
    device->SetStreamSource(0, SliceQuad, 0, sizeof(QuadVertex));
    device->SetRenderTarget(0, DensityMap.surface);
    device->SetDepthStencilSurface(nullptr);
    for (int s = 0; s < densityGridSize; ++s) {
        generationEffect->SetVector("g_pos", &gPos);
        generationEffect->SetFloat("g_z", static_cast<float>(s));
        runTechnique(device);
    }
    return gPos;
}

// The device's render target and depth surface as the pass found them, put back by restore()
// (or only released, on a way out that drew nothing).
class SavedTargets {
  public:
    explicit SavedTargets(IDirect3DDevice9* device) : device_(device) {
        device_->GetRenderTarget(0, &target_);
        device_->GetDepthStencilSurface(&depth_);
    }
    ~SavedTargets() { release(); }
    SavedTargets(const SavedTargets&) = delete;
    SavedTargets& operator=(const SavedTargets&) = delete;

    IDirect3DSurface9* target() const { return target_; }
    void restore() {
        device_->SetRenderTarget(0, target_);
        device_->SetDepthStencilSurface(depth_);
        release();
    }

  private:
    void release() {
        if (target_ != nullptr) target_->Release();
        if (depth_ != nullptr) depth_->Release();
        target_ = depth_ = nullptr;
    }

    IDirect3DDevice9* device_;
    IDirect3DSurface9* target_ = nullptr;
    IDirect3DSurface9* depth_ = nullptr;
};

// Every way out of the pass: its wall-clock time counts for the tower, then the lock is left.
void leavePass(Clock::time_point passStart, trace::Slice& pass, PassStages& stages) {
    towerGpuPassNanoseconds.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - passStart).count(),
        std::memory_order_relaxed);
    pass.end();
    stages.closeGpuTiming();
    LeaveCriticalSection(&GenerationLock);
}

} // namespace

BlockPosition blockPosition(int x, int y, int z) {
    const auto axis = [](int block) { return (static_cast<float>(block - 4) - 0.25f) * 0.5f; };
    return {axis(x), axis(y), axis(z), 0.0f};
}

void generateBlockOnGpu(BlockJob job, GpuPassTimes* times) {
    IDirect3DDevice9* const device = d3dDevice;
    trace::Slice lockWait("lock wait");
    EnterCriticalSection(&GenerationLock);
    lockWait.end();
    trace::Slice pass("gpu pass");
    const Clock::time_point passStart = Clock::now();
    startedBlocks.fetch_add(1, std::memory_order_relaxed);
    SlotTriangleCounts[job.slot] = 0;
    timer();
    PassStages stages(device, times);

    const std::int32_t mode = CalculationMode.load(std::memory_order_relaxed);
    SlotCalculationModes[job.slot].store(mode, std::memory_order_relaxed);
    const int block = blockIndex(job.x, job.y, job.z);
    if (!passObjectsPresent(mode, job.slot)) { // the block stays empty
        leavePass(passStart, pass, stages);
        return;
    }

    SavedTargets saved(device);
    device->SetVertexDeclaration(QuadDeclaration);

    const D3DXVECTOR4 gPos = renderDensityMap(device, job.x, job.y, job.z);
    stages.stop("density", &GpuPassTimes::density);

    drawInto(device, CubeMap.surface, "createCubes");
    device->SetStreamSource(0, FullQuad, 0, sizeof(QuadVertex));
    generationEffect->SetTexture("g_txMap1", DensityMap.texture);
    generationEffect->SetTexture("g_txNumPoly", PolyCountTexture);
    generationEffect->SetTexture("g_txRay", RayTexture);
    generationEffect->SetVector("g_pos", &gPos);
    runTechnique(device);
    stages.stop("cells", &GpuPassTimes::cubes);

    const D3DXHANDLE sums[pyramidLevels] = {"sum1", "sum2", "sum3", "sum4"};
    for (int k = 0; k < pyramidLevels; ++k) {
        drawInto(device, PolyCountPyramid[k].surface, sums[k]);
        generationEffect->SetTexture("g_txMap1", k == 0 ? CubeMap.texture
                                                        : PolyCountPyramid[k - 1].texture);
        runTechnique(device);
    }
    stages.stop("pyramid", &GpuPassTimes::pyramid);

    device->SetRenderTarget(0, saved.target());
    const std::int32_t triangles = readTriangleTotal(device);
    stages.stop("read-back", &GpuPassTimes::readbacks);
    SlotTriangleCounts[job.slot] = triangles;
    BlockTriangleCounts[block].store(0, std::memory_order_release);
    BlockVertexCounts[block].store(0, std::memory_order_relaxed);

    bool meshFailed = false;
    if (mode != CpuMeshGpuDensity && triangles > 0) {
        meshFailed = !buildGpuMesh(device, block, triangles, stages);
    }
    saved.restore();
    if (meshFailed) {
        leavePass(passStart, pass, stages);
        return;
    }

    if (mode == CpuMeshGpuDensity) {
        const bool copied =
            readRows(device, DensityMap, DensityMapReadback, DensityReadback[job.slot],
                     densityMapHeight, densityMapWidth * sizeof(float)) &&
            readRows(device, CubeMap, CubeMapReadback, CubeReadback[job.slot], cubeMapHeight,
                     cubeMapWidth * 4);
        // Without this block's density and cells the slot holds another block's: no surface.
        if (!copied) SlotTriangleCounts[job.slot] = 0;
        stages.stop("read-back", &GpuPassTimes::readbacks);
    }

    const EngineNumber elapsed = timer();
    tBlockMap.store(elapsed, std::memory_order_relaxed);
    raiseCounter(BlockMapMax, elapsed);
    BlockMapSum.fetch_add(elapsed / 1000, std::memory_order_relaxed);
    leavePass(passStart, pass, stages);
}

bool renderBlockDensity(int x, int y, int z, float* destination) {
    assert(destination != nullptr);
    IDirect3DDevice9* const device = d3dDevice;
    EnterCriticalSection(&GenerationLock);
    if (!densityObjectsPresent() || DensityMapReadback.surface == nullptr) {
        LeaveCriticalSection(&GenerationLock);
        return false;
    }
    bool read = false;
    {
        SavedTargets saved(device);
        device->SetVertexDeclaration(QuadDeclaration);
        renderDensityMap(device, x, y, z);
        read = readRows(device, DensityMap, DensityMapReadback, destination, densityMapHeight,
                        densityMapWidth * sizeof(float));
        saved.restore();
    }
    LeaveCriticalSection(&GenerationLock);
    return read;
}
