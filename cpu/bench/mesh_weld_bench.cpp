// How fast the weld turns an unwelded GPU triangle list into an indexed one: a terrain block's
// triangles, unwelded as the GPU pass delivers them (each shared corner repeated exactly).
#include "cpu/mesh_weld.h"

#include "cpu/cpu_marching_cubes.h"
#include "cpu/tests/density_fields.h"
#include "cpu/tests/staging_device.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

// The CPU mesher's block, expanded to one vertex per corner.
std::vector<MeshVertex> unweldedTerrainBlock() {
    createStagingBuffers();
    density_fields::fillTerrain(0);
    buildBlockOnCpu(0, 0);
    void* data = nullptr;
    WorkerStagingBuffers[0].vertices->Lock(0, 0, &data, D3DLOCK_READONLY);
    const auto* vertices = static_cast<const MeshVertex*>(data);
    WorkerStagingBuffers[0].indices->Lock(0, 0, &data, D3DLOCK_READONLY);
    const auto* indices = static_cast<const std::uint16_t*>(data);
    const int corners = std::min(3 * SlotCpuTriangleCounts[0], blockMeshVertexLimit);
    std::vector<MeshVertex> unwelded;
    for (int c = 0; c < corners; ++c)
        unwelded.push_back(vertices[indices[c]]);
    WorkerStagingBuffers[0].indices->Unlock();
    WorkerStagingBuffers[0].vertices->Unlock();
    releaseStagingBuffers();
    return unwelded;
}

void weldTerrainBlock(benchmark::State& state) {
    const std::vector<MeshVertex> corners = unweldedTerrainBlock();
    std::vector<std::uint16_t> identity(corners.size());
    for (std::size_t c = 0; c < corners.size(); ++c)
        identity[c] = static_cast<std::uint16_t>(c);
    std::vector<MeshVertex> welded(corners.size());
    std::vector<std::uint16_t> indices(corners.size());
    WeldScratch scratch;
    int weldedCount = 0;
    for (auto _ : state) {
        weldedCount = weldTriangleList(corners.data(), static_cast<int>(corners.size()),
                                       identity.data(), static_cast<int>(corners.size()),
                                       welded.data(), indices.data(), scratch);
        benchmark::DoNotOptimize(weldedCount);
    }
    const auto perUnit = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
    state.counters["us_per_block"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6, perUnit);
    state.counters["corners"] = static_cast<double>(corners.size());
    state.counters["welded"] = weldedCount;
}
BENCHMARK(weldTerrainBlock)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
