#include "gpu/block_generation.h"

#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "platform/d3d9/gl_device.h"
#include "tables/lookup_textures.h"

#include <cassert>
#include <chrono>
#include <cstring>

std::atomic<std::int32_t> SlotCalculationModes[workerCount];

namespace {

using Clock = std::chrono::steady_clock;

// Accumulates wall-clock milliseconds into one field of the caller's GpuPassTimes, if any.
// Timing waits for the GPU at each stage's end, so that a stage's draws count in its own time.
class StageTimer {
  public:
    StageTimer(IDirect3DDevice9* device, GpuPassTimes* times)
        : device_(device), times_(times), start_(Clock::now()) {}
    void stop(double GpuPassTimes::*stage) {
        if (times_ == nullptr) return;
        d3d9gl::finishSubmittedWork(device_);
        const Clock::time_point now = Clock::now();
        times_->*stage += std::chrono::duration<double, std::milli>(now - start_).count();
        start_ = now;
    }

  private:
    IDirect3DDevice9* device_;
    GpuPassTimes* times_;
    Clock::time_point start_;
};

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
// a row. False when the copy or the lock failed (the destination is then left as it was).
bool readRows(IDirect3DDevice9* device, const RenderTarget& target, const Readback& readback,
              void* destination, UINT rows, UINT rowBytes) {
    assert(destination != nullptr && rows > 0 && rowBytes > 0);
    if (FAILED(device->GetRenderTargetData(target.surface, readback.surface))) return false;
    D3DLOCKED_RECT locked{};
    if (FAILED(readback.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return false;
    assert(static_cast<UINT>(locked.Pitch) >= rowBytes);
    for (UINT r = 0; r < rows; ++r)
        std::memcpy(static_cast<std::uint8_t*>(destination) + std::size_t{r} * rowBytes,
                    static_cast<const std::uint8_t*>(locked.pBits) + std::size_t{r} * locked.Pitch,
                    rowBytes);
    readback.surface->UnlockRect();
    return true;
}

std::int32_t readTriangleTotal(IDirect3DDevice9* device) {
    float total[4] = {};
    readRows(device, PolyCountPyramid[pyramidLevels - 1], TotalReadback, total, 1, sizeof total);
    return static_cast<std::int32_t>(total[1] + total[0] + total[2] + total[3]);
}

// The GPU modes' mesh: createVertex and createVertexNormal, then the vertices read back into a
// new mesh. False when the mesh could not be made (the block then stays empty).
bool buildGpuMesh(IDirect3DDevice9* device, int block, std::int32_t triangles,
                  StageTimer& timer) {
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
    timer.stop(&GpuPassTimes::vertices);

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

    ID3DXMesh* mesh = BlockMeshes[block];
    if (SUCCEEDED(device->GetRenderTargetData(MeshVertexTarget.surface,
                                              MeshVertexReadback.surface))) {
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(MeshVertexReadback.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            void* meshVertices = nullptr;
            void* meshIndices = nullptr;
            if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_DISCARD, &meshVertices))) {
                if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_DISCARD, &meshIndices))) {
                    // Rows of 512 texels of 16 bytes are contiguous: vertex n is at byte 32n.
                    assert(locked.Pitch == static_cast<INT>(meshVertexTargetWidth * 16));
                    std::memcpy(meshVertices, locked.pBits, std::size_t(vertices) * 32);
                    std::memcpy(meshIndices, IdentityIndices,
                                std::size_t(vertices) * sizeof IdentityIndices[0]);
                    mesh->UnlockIndexBuffer();
                }
                mesh->UnlockVertexBuffer();
            }
            MeshVertexReadback.surface->UnlockRect();
        }
    }
    timer.stop(&GpuPassTimes::readbacks);
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

// Every way out of the pass: its wall-clock time counts for the tower, then the lock is left.
void leavePass(Clock::time_point passStart) {
    towerGpuPassNanoseconds.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - passStart).count(),
        std::memory_order_relaxed);
    LeaveCriticalSection(&GenerationLock);
}

} // namespace

BlockPosition blockPosition(int x, int y, int z) {
    const auto axis = [](int block) { return (static_cast<float>(block - 4) - 0.25f) * 0.5f; };
    return {axis(x), axis(y), axis(z), 0.0f};
}

void generateBlockOnGpu(BlockJob job, GpuPassTimes* times) {
    IDirect3DDevice9* const device = d3dDevice;
    EnterCriticalSection(&GenerationLock);
    const Clock::time_point passStart = Clock::now();
    startedBlocks.fetch_add(1, std::memory_order_relaxed);
    SlotTriangleCounts[job.slot] = 0;
    timer();
    if (times != nullptr) *times = {};
    StageTimer stages(device, times);

    const std::int32_t mode = CalculationMode.load(std::memory_order_relaxed);
    SlotCalculationModes[job.slot].store(mode, std::memory_order_relaxed);
    const int block = blockIndex(job.x, job.y, job.z);
    if (generationEffect == nullptr) { // its compile failed: the block stays empty
        leavePass(passStart);
        return;
    }

    IDirect3DSurface9* savedTarget = nullptr;
    IDirect3DSurface9* savedDepth = nullptr;
    device->GetRenderTarget(0, &savedTarget);
    device->GetDepthStencilSurface(&savedDepth);
    device->SetVertexDeclaration(QuadDeclaration);

    const D3DXVECTOR4 gPos = renderDensityMap(device, job.x, job.y, job.z);
    stages.stop(&GpuPassTimes::density);

    drawInto(device, CubeMap.surface, "createCubes");
    device->SetStreamSource(0, FullQuad, 0, sizeof(QuadVertex));
    generationEffect->SetTexture("g_txMap1", DensityMap.texture);
    generationEffect->SetTexture("g_txNumPoly", PolyCountTexture);
    generationEffect->SetTexture("g_txRay", RayTexture);
    generationEffect->SetVector("g_pos", &gPos);
    runTechnique(device);
    stages.stop(&GpuPassTimes::cubes);

    const D3DXHANDLE sums[pyramidLevels] = {"sum1", "sum2", "sum3", "sum4"};
    for (int k = 0; k < pyramidLevels; ++k) {
        drawInto(device, PolyCountPyramid[k].surface, sums[k]);
        generationEffect->SetTexture("g_txMap1", k == 0 ? CubeMap.texture
                                                        : PolyCountPyramid[k - 1].texture);
        runTechnique(device);
    }
    stages.stop(&GpuPassTimes::pyramid);

    device->SetRenderTarget(0, savedTarget);
    const std::int32_t triangles = readTriangleTotal(device);
    stages.stop(&GpuPassTimes::readbacks);
    SlotTriangleCounts[job.slot] = triangles;
    BlockTriangleCounts[block].store(0, std::memory_order_release);
    BlockVertexCounts[block].store(0, std::memory_order_relaxed);

    bool meshFailed = false;
    if (mode != CpuMeshGpuDensity && triangles > 0) {
        meshFailed = !buildGpuMesh(device, block, triangles, stages);
    }
    device->SetRenderTarget(0, savedTarget);
    device->SetDepthStencilSurface(savedDepth);
    if (savedTarget != nullptr) savedTarget->Release();
    if (savedDepth != nullptr) savedDepth->Release();
    if (meshFailed) {
        leavePass(passStart);
        return;
    }

    if (mode == CpuMeshGpuDensity) {
        readRows(device, DensityMap, DensityMapReadback, DensityReadback[job.slot],
                 densityMapHeight, densityMapWidth * sizeof(float));
        readRows(device, CubeMap, CubeMapReadback, CubeReadback[job.slot], cubeMapHeight,
                 cubeMapWidth * 4);
        stages.stop(&GpuPassTimes::readbacks);
    }

    const EngineNumber elapsed = timer();
    tBlockMap.store(elapsed, std::memory_order_relaxed);
    raiseCounter(BlockMapMax, elapsed);
    BlockMapSum.fetch_add(elapsed / 1000, std::memory_order_relaxed);
    leavePass(passStart);
}

bool renderBlockDensity(int x, int y, int z, float* destination) {
    assert(destination != nullptr);
    IDirect3DDevice9* const device = d3dDevice;
    EnterCriticalSection(&GenerationLock);
    if (generationEffect == nullptr) {
        LeaveCriticalSection(&GenerationLock);
        return false;
    }
    IDirect3DSurface9* savedTarget = nullptr;
    IDirect3DSurface9* savedDepth = nullptr;
    device->GetRenderTarget(0, &savedTarget);
    device->GetDepthStencilSurface(&savedDepth);
    device->SetVertexDeclaration(QuadDeclaration);
    renderDensityMap(device, x, y, z);
    const bool read = readRows(device, DensityMap, DensityMapReadback, destination,
                               densityMapHeight, densityMapWidth * sizeof(float));
    device->SetRenderTarget(0, savedTarget);
    device->SetDepthStencilSurface(savedDepth);
    if (savedTarget != nullptr) savedTarget->Release();
    if (savedDepth != nullptr) savedDepth->Release();
    LeaveCriticalSection(&GenerationLock);
    return read;
}
