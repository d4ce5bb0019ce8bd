#include "gpu/block_generation.h"

#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "terrain/scoped_lock.h"
#include "platform/trace/trace.h"
#include "tables/lookup_textures.h"

#include <cassert>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>

std::atomic<std::int32_t> SlotCalculationModes[workerCount];

namespace {

using Clock = std::chrono::steady_clock;

// The GPU timestamps of one traced pass, one at its start and one after each stage, as a
// Direct3D program takes them: bracketed by a disjoint query, with the frequency query (which
// also places the GPU's clock on the trace's). Read back later, once the GPU has written them,
// so that tracing adds no wait to the worker.
class GpuStageTimestamps {
  public:
    explicit GpuStageTimestamps(IDirect3DDevice9* device) : device_(device) {
        if (FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, &frequency_)) ||
            FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, &disjoint_)))
            return;
        frequency_->Issue(D3DISSUE_END);
        disjoint_->Issue(D3DISSUE_BEGIN);
        mark(nullptr);
    }
    ~GpuStageTimestamps() {
        for (IDirect3DQuery9* query : {frequency_, disjoint_})
            if (query != nullptr) query->Release();
        for (int i = 0; i < count_; ++i)
            timestamps_[i]->Release();
    }
    GpuStageTimestamps(const GpuStageTimestamps&) = delete;
    GpuStageTimestamps& operator=(const GpuStageTimestamps&) = delete;

    // The end of stage `name` (null: the pass's start).
    void mark(const char* name) {
        if (disjoint_ == nullptr || count_ == maxTimestamps) return;
        IDirect3DQuery9* query = nullptr;
        if (FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMP, &query))) return;
        if (FAILED(query->Issue(D3DISSUE_END))) {
            query->Release();
            return;
        }
        stageNames_[count_] = name;
        timestamps_[count_++] = query;
    }

    // After the last stage: ends the disjoint interval and sends the last timestamp on its
    // way, so that the GPU writes it when it gets there rather than at this context's next
    // flush, which may come after the other worker's pass.
    void close() {
        if (disjoint_ == nullptr || count_ == 0) return;
        disjoint_->Issue(D3DISSUE_END);
        timestamps_[count_ - 1]->GetData(nullptr, 0, D3DGETDATA_FLUSH);
    }

    // Puts the stage times on the gpu track once every result is there. False while some are
    // not (and `wait` is false); true once published, or when there is nothing to publish (a
    // query refused, or the clock jumped).
    bool publish(bool wait) {
        if (disjoint_ == nullptr || count_ < 2) return true;
        UINT64 ticksPerSecond = 0;
        BOOL jumped = TRUE;
        UINT64 ticks[maxTimestamps] = {};
        if (!read(frequency_, &ticksPerSecond, sizeof ticksPerSecond, wait) ||
            !read(disjoint_, &jumped, sizeof jumped, wait))
            return false;
        for (int i = 0; i < count_; ++i)
            if (!read(timestamps_[i], &ticks[i], sizeof ticks[i], wait)) return false;
        if (failed_ || jumped || ticksPerSecond == 0) return true;
        for (int i = 1; i < count_; ++i)
            trace::gpuSlice(stageNames_[i], ticks[i - 1], ticks[i]);
        return true;
    }

  private:
    // The pass's stages: density, cells, pyramid, the total's read-back, vertices and the
    // mesh's or the density's read-back, after the start.
    static constexpr int maxTimestamps = 8;

    // `data` holds `size` bytes, the query's data size. False while the result is not there.
    bool read(IDirect3DQuery9* query, void* data, DWORD size, bool wait) {
        assert(data != nullptr && size == query->GetDataSize());
        HRESULT result;
        while ((result = query->GetData(data, size, wait ? D3DGETDATA_FLUSH : 0)) == S_FALSE) {
            if (!wait) return false;
            std::this_thread::yield();
        }
        failed_ = failed_ || result != S_OK;
        return true;
    }

    IDirect3DDevice9* device_;
    IDirect3DQuery9* frequency_ = nullptr;
    IDirect3DQuery9* disjoint_ = nullptr;
    IDirect3DQuery9* timestamps_[maxTimestamps] = {};
    const char* stageNames_[maxTimestamps] = {};
    int count_ = 0;
    bool failed_ = false;
};

// The traced passes of this thread whose timestamps are not read yet, oldest first; the
// last ones are read by publishPendingGpuTimes.
struct PendingTimestamps {
    std::deque<std::unique_ptr<GpuStageTimestamps>> passes;

    void publishReady() {
        while (!passes.empty() && passes.front()->publish(false))
            passes.pop_front();
    }
    // At thread exit the device's state of this thread may already be gone, and with it the
    // context these queries belong to: whatever publishPendingGpuTimes did not read is left.
    ~PendingTimestamps() {
        for (auto& pass : passes)
            static_cast<void>(pass.release());
    }
};
thread_local PendingTimestamps pendingTimestamps;

// The stages of one pass, for whoever watches them: the caller's GpuPassTimes (a benchmark)
// and, while a trace is recorded, a slice per stage on the worker's track and the GPU's own
// time per stage on the gpu track. An untraced pass without `times` reads no clock and issues
// no query.
class PassStages {
  public:
    PassStages(IDirect3DDevice9* device, GpuPassTimes* times) : times_(times) {
        if (times_ != nullptr) {
            *times_ = {};
            device->CreateQuery(D3DQUERYTYPE_EVENT, &event_);
            start_ = Clock::now();
        }
        if (trace::recording()) {
            // The earlier passes' timestamps are written by now (their read-backs waited for
            // the GPU, and the pass that held the lock since has ended): reading them here,
            // where the device waits for nothing else, costs microseconds.
            pendingTimestamps.publishReady();
            traceStart_ = trace::now();
            gpu_ = std::make_unique<GpuStageTimestamps>(device);
        }
    }
    ~PassStages() {
        if (event_ != nullptr) event_->Release();
    }
    PassStages(const PassStages&) = delete;
    PassStages& operator=(const PassStages&) = delete;

    // Ends the stage that began at the last stop (or at the start): `name` on the trace, and
    // `stage` of the caller's times, which then counts until the GPU has finished the stage's
    // draws (an event query), so that they count in their own stage and not at the next flush.
    void stop(const char* name, double GpuPassTimes::*stage) {
        if (gpu_ != nullptr) {
            trace::completeSlice(name, traceStart_);
            gpu_->mark(name);
            traceStart_ = trace::now();
        }
        if (times_ == nullptr) return;
        if (event_ != nullptr && SUCCEEDED(event_->Issue(D3DISSUE_END))) {
            while (event_->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE)
                std::this_thread::yield();
        }
        const Clock::time_point now = Clock::now();
        times_->*stage += std::chrono::duration<double, std::milli>(now - start_).count();
        start_ = now;
    }

    // At the pass's end: the GPU timestamps are sent on their way, to be read at a later pass
    // of this thread or at its end. Reading them after the lock instead would make the worker
    // wait for the other worker's pass (a device call first waits for what other contexts
    // published).
    void closeGpuTiming() {
        if (gpu_ == nullptr) return;
        gpu_->close();
        pendingTimestamps.passes.push_back(std::move(gpu_));
    }

  private:
    GpuPassTimes* times_;
    Clock::time_point start_;
    IDirect3DQuery9* event_ = nullptr;
    double traceStart_ = 0;
    std::unique_ptr<GpuStageTimestamps> gpu_;
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

void publishPendingGpuTimes() {
    for (const auto& pass : pendingTimestamps.passes)
        pass->publish(true);
    pendingTimestamps.passes.clear();
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
