// The CPU side of a block, over sixteen dense ground blocks of a tower made by the program's own
// GPU passes (on the noise volume of start-up): the marching cubes alone (marchingCubes), the CPU mode's whole work from the
// density readback to the finished mesh (cpuMeshWithNormals: marching cubes, apron, smooth
// normals, the mesh's creation and copy), and the weld mode's weld of the GPU mesh to the
// finished welded mesh (weldGpuMesh). Publishing is left out of both. Each iteration does all
// sixteen blocks; only the measured work is timed. At the end it prints the medians' ratios
// against marchingCubes.
//   build/release/cpu/bench_block_cpu_path [--benchmark_repetitions=9]
#include "app/startup.h"
#include "cpu/block_meshes.h"
#include "cpu/cpu_marching_cubes.h"
#include "cpu/face_weights.h"
#include "engine/engine_handles.h"
#include "gpu/block_generation.h"
#include "platform/engine/engine_host.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int slot = 0;

struct GroundBlock {
    std::vector<float> density;
    std::vector<std::uint8_t> cubes;
    ID3DXMesh* gpuMesh = nullptr; // the weld mode's unwelded GPU mesh, owned here
};

std::vector<GroundBlock> groundBlocks;

// Sixteen columns spread over x and y (as bench_block_generation's), and in each the block of
// the ground layers (z 2..5) with the most triangles.
void makeGroundBlocks() {
    char* argv[] = {const_cast<char*>("bench_block_cpu_path"), const_cast<char*>("--headless"),
                    const_cast<char*>("--data"), const_cast<char*>(GORVANE_DATA_DIR),
                    const_cast<char*>("--size"), const_cast<char*>("64x64")};
    if (engineHostConfigure(6, argv) != 0 || startUp() != StartUpOutcome::running) {
        std::fprintf(stderr, "bench_block_cpu_path: the program could not start headless\n");
        std::exit(1);
    }
    CalculationMode.store(CpuMeshGpuDensity);
    for (int i = 0; i < 16; ++i) {
        BlockJob job{slot, (3 * i) % 8, (5 * i + 1) % 8, 2};
        std::int32_t most = -1;
        for (int z = 2; z <= 5; ++z) {
            generateBlockOnGpu({slot, job.x, job.y, z});
            if (SlotTriangleCounts[slot] > most) most = SlotTriangleCounts[slot], job.z = z;
        }
        GroundBlock ground;
        CalculationMode.store(CpuMeshGpuDensity);
        generateBlockOnGpu(job);
        ground.density.assign(DensityReadback[slot], DensityReadback[slot] + densityFloatsPerSlot);
        ground.cubes.assign(CubeReadback[slot], CubeReadback[slot] + cubeBytesPerSlot);
        CalculationMode.store(GpuVerticesCpuWeld);
        generateBlockOnGpu(job);
        CalculationMode.store(CpuMeshGpuDensity);
        const int block = blockIndex(job.x, job.y, job.z);
        if (BlockTriangleCounts[block].load() > 0) std::swap(ground.gpuMesh, BlockMeshes[block]);
        BlockTriangleCounts[block].store(0);
        if (ground.gpuMesh == nullptr) {
            std::fprintf(stderr, "bench_block_cpu_path: column %d has no surface\n", i);
            std::exit(1);
        }
        groundBlocks.push_back(std::move(ground));
    }
}

void restoreReadbacks(const GroundBlock& ground) {
    std::memcpy(DensityReadback[slot], ground.density.data(), sizeof DensityReadback[slot]);
    std::memcpy(CubeReadback[slot], ground.cubes.data(), sizeof CubeReadback[slot]);
}

using Clock = std::chrono::steady_clock;

// What one block's measured work made: its triangle count (negative when it could not make its
// result) and the mesh to release afterwards, untimed, if it made one.
struct Made {
    std::int64_t triangles;
    ID3DXMesh* mesh = nullptr;
};

Made madeMesh(ID3DXMesh* mesh) {
    return {mesh != nullptr ? static_cast<std::int64_t>(mesh->GetNumFaces()) : -1, mesh};
}

// Runs `work` once per ground block and iteration, timing only `work`; `prepare` runs first,
// untimed.
template <typename Prepare, typename Work>
void overGroundBlocks(benchmark::State& state, Prepare prepare, Work work) {
    double triangles = 0;
    for (auto _ : state) {
        double seconds = 0.0;
        for (const GroundBlock& ground : groundBlocks) {
            prepare(ground);
            const Clock::time_point start = Clock::now();
            const Made made = work(ground);
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
            if (made.mesh != nullptr) made.mesh->Release();
            if (made.triangles < 0) {
                state.SkipWithError("a mesh could not be made");
                return;
            }
            triangles += static_cast<double>(made.triangles);
        }
        state.SetIterationTime(seconds / static_cast<double>(groundBlocks.size()));
    }
    state.counters["triangles"] =
        triangles / static_cast<double>(state.iterations() * groundBlocks.size());
}

void marchingCubes(benchmark::State& state) {
    overGroundBlocks(state, restoreReadbacks, [](const GroundBlock&) {
        buildBlockOnCpu(0, slot);
        return Made{SlotCpuTriangleCounts[slot]};
    });
}

void cpuMeshWithNormals(benchmark::State& state) {
    overGroundBlocks(state, restoreReadbacks, [](const GroundBlock&) {
        buildBlockOnCpu(0, slot);
        return madeMesh(meshFromStaging(slot, d3dDevice).mesh);
    });
}

void weldGpuMesh(benchmark::State& state) {
    overGroundBlocks(state, [](const GroundBlock&) {}, [](const GroundBlock& ground) {
        return madeMesh(weldMesh(ground.gpuMesh, slot, d3dDevice));
    });
}

BENCHMARK(marchingCubes)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(cpuMeshWithNormals)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(weldGpuMesh)->Unit(benchmark::kMillisecond)->UseManualTime();

// The console's report, keeping each benchmark's median (or its only run) for the ratios.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median"
                                                  : !medians.count(name))
                medians[name] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    makeGroundBlocks();
    std::printf("face weights: %s backend\n", faceWeightsBackend());
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& medians = reporter.medians;
    if (medians.count("marchingCubes") && medians.at("marchingCubes") > 0.0) {
        const double base = medians.at("marchingCubes");
        const struct {
            const char* name;
            double budget;
        } budgets[] = {{"cpuMeshWithNormals", 3.0}, {"weldGpuMesh", 1.0}};
        for (const auto& [name, budget] : budgets)
            if (medians.count(name))
                std::printf("%-20s %6.2f x marchingCubes (budget %.1f x)\n", name,
                            medians.at(name) / base, budget);
    }
    for (GroundBlock& ground : groundBlocks)
        ground.gpuMesh->Release();
    benchmark::Shutdown();
    return 0;
}
