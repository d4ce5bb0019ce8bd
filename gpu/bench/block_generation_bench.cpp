// One GPU block pass per iteration, in each calculation mode, over a fixed set of blocks at the
// ground (where the surface runs): as a tower's worker runs it (blockPass), and with the time of
// each stage as counters in milliseconds (blockGeneration; each stage then waits for the GPU).
//   build/release/gpu/bench_block_generation [--benchmark_repetitions=3]
#include "app/startup.h"
#include "gpu/block_generation.h"
#include "platform/engine/engine_host.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void startProgram() {
    static bool started = false;
    if (started) return;
    char* argv[] = {const_cast<char*>("bench_block_generation"), const_cast<char*>("--headless"),
                    const_cast<char*>("--data"), const_cast<char*>(GORVANE_DATA_DIR),
                    const_cast<char*>("--size"), const_cast<char*>("64x64")};
    if (engineHostConfigure(6, argv) != 0 || startUp() != StartUpOutcome::running) {
        std::fprintf(stderr, "bench_block_generation: the program could not start headless\n");
        std::exit(1);
    }
    started = true;
}

// Sixteen blocks of the ground layers, spread over x and y.
std::vector<BlockJob> groundBlocks() {
    std::vector<BlockJob> blocks;
    for (int i = 0; i < 16; ++i)
        blocks.push_back({i % 2, (3 * i) % 8, (5 * i + 1) % 8, 2 + i % 4});
    return blocks;
}

void blockGeneration(benchmark::State& state, CalculationModeValue mode) {
    startProgram();
    CalculationMode.store(mode);
    const std::vector<BlockJob> blocks = groundBlocks();
    GpuPassTimes sum{};
    double triangles = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        GpuPassTimes times{};
        const BlockJob job = blocks[next++ % blocks.size()];
        generateBlockOnGpu(job, &times);
        sum.density += times.density;
        sum.cubes += times.cubes;
        sum.pyramid += times.pyramid;
        sum.vertices += times.vertices;
        sum.readbacks += times.readbacks;
        triangles += SlotTriangleCounts[job.slot];
    }
    const auto perBlock = [&](double total) {
        return benchmark::Counter(total / static_cast<double>(state.iterations()));
    };
    state.counters["density_ms"] = perBlock(sum.density);
    state.counters["cubes_ms"] = perBlock(sum.cubes);
    state.counters["pyramid_ms"] = perBlock(sum.pyramid);
    state.counters["vertices_ms"] = perBlock(sum.vertices);
    state.counters["readbacks_ms"] = perBlock(sum.readbacks);
    state.counters["triangles"] = perBlock(triangles);
}

// The pass as a tower's worker runs it: no stage times and, without --trace, no trace.
void blockPass(benchmark::State& state, CalculationModeValue mode) {
    startProgram();
    CalculationMode.store(mode);
    const std::vector<BlockJob> blocks = groundBlocks();
    std::size_t next = 0;
    for (auto _ : state)
        generateBlockOnGpu(blocks[next++ % blocks.size()]);
}

BENCHMARK_CAPTURE(blockPass, CpuMeshGpuDensity, CpuMeshGpuDensity)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(48);
BENCHMARK_CAPTURE(blockPass, GpuOnly, GpuOnly)->Unit(benchmark::kMillisecond)->Iterations(48);
BENCHMARK_CAPTURE(blockPass, GpuVerticesCpuWeld, GpuVerticesCpuWeld)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(48);
BENCHMARK_CAPTURE(blockGeneration, CpuMeshGpuDensity, CpuMeshGpuDensity)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(48);
BENCHMARK_CAPTURE(blockGeneration, GpuOnly, GpuOnly)->Unit(benchmark::kMillisecond)->Iterations(48);
BENCHMARK_CAPTURE(blockGeneration, GpuVerticesCpuWeld, GpuVerticesCpuWeld)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(48);

} // namespace

BENCHMARK_MAIN();
