// How fast the CPU mesher turns a block's density readback into its mesh, on four fields: a
// sparse terrain block, a dense one at the ground (several octaves of noise), a ball, and the
// worst case (every grid edge crossed, stopped by the
// vertex limit).
#include "cpu/cpu_marching_cubes.h"

#include "cpu/tests/density_fields.h"
#include "cpu/tests/staging_device.h"

#include <benchmark/benchmark.h>

namespace {

void meshBlock(benchmark::State& state) {
    for (auto _ : state) {
        buildBlockOnCpu(0, 0);
        benchmark::DoNotOptimize(SlotCpuTriangleCounts[0]);
    }
    const double blocks = static_cast<double>(state.iterations());
    // Inverted rates are seconds per unit; counting blocks in millionths gives microseconds.
    const auto perUnit = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
    state.counters["us_per_block"] = benchmark::Counter(blocks * 1e-6, perUnit);
    state.counters["ns_per_cell"] = benchmark::Counter(blocks * cubeTexelsPerSlot * 1e-9, perUnit);
    state.counters["vertices_per_s"] =
        benchmark::Counter(blocks * SlotCpuVertexCounts[0], benchmark::Counter::kIsRate);
    state.counters["cells_per_s"] =
        benchmark::Counter(blocks * cubeTexelsPerSlot, benchmark::Counter::kIsRate);
    state.counters["vertices"] = SlotCpuVertexCounts[0];
    state.counters["triangles"] = SlotCpuTriangleCounts[0];
}

void terrainBlock(benchmark::State& state) {
    density_fields::fillTerrain(0);
    meshBlock(state);
}

void denseTerrainBlock(benchmark::State& state) {
    density_fields::fillDenseTerrain(0);
    meshBlock(state);
}

void sphereBlock(benchmark::State& state) {
    density_fields::fillSphere(0, 14.0f);
    meshBlock(state);
}

void worstCaseBlock(benchmark::State& state) {
    density_fields::fillCheckerboard(0, true, true, true);
    meshBlock(state);
}

BENCHMARK(terrainBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(denseTerrainBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(sphereBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(worstCaseBlock)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    createStagingBuffers();
    benchmark::RunSpecifiedBenchmarks();
    releaseStagingBuffers();
    benchmark::Shutdown();
    return 0;
}
