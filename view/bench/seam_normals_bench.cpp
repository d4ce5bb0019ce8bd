// How smoothly the lighting runs across block borders: builds a whole tower in each calculation
// mode on a headless engine and prints, over every pair of coincident vertices on the faces that
// neighbouring blocks share, the angle between their normals (maximum and percentiles, per
// block axis and over all three).
//   build/release/view/bench_seam_normals
#include "app/startup.h"
#include "engine/engine_handles.h"
#include "platform/engine/engine_host.h"
#include "terrain/terrain_state.h"
#include "view/tests/seam_angles.h"
#include "view/tower_creation.h"

#include <cstdio>
#include <vector>

namespace {

void printRow(const char* mode, const char* axis, const std::vector<double>& degrees) {
    std::printf("%-20s %-4s %9zu %9.3f %9.3f %9.3f %9.3f\n", mode, axis, degrees.size(),
                seam_angles::percentile(degrees, 0.5), seam_angles::percentile(degrees, 0.99),
                seam_angles::percentile(degrees, 0.999), seam_angles::maximum(degrees));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: bench_seam_normals\n");
        return 2;
    }
    char* engineArgs[] = {argv[0], const_cast<char*>("--headless"), const_cast<char*>("--data"),
                          const_cast<char*>(GORVANE_DATA_DIR), const_cast<char*>("--size"),
                          const_cast<char*>("64x64")};
    if (engineHostConfigure(6, engineArgs) != 0 || startUp() != StartUpOutcome::running) {
        std::fprintf(stderr, "bench_seam_normals: the program could not start headless\n");
        return 1;
    }

    const char* const names[] = {"CpuMeshGpuDensity", "GpuOnly", "GpuVerticesCpuWeld"};
    const char* const axes[] = {"x", "y", "z"};
    std::printf("%-20s %-4s %9s %9s %9s %9s %9s\n", "mode", "axis", "pairs", "p50 deg", "p99 deg",
                "p99.9 deg", "max deg");
    for (int mode = CpuMeshGpuDensity; mode <= GpuVerticesCpuWeld; ++mode) {
        CalculationMode.store(mode);
        engine_frame(); // a C with no frame since the last tower would be ignored
        createTower();
        std::vector<MeshVertex> vertices[towerBlockCount];
        for (int i = 0; i < towerBlockCount; ++i)
            if (BlockTriangleCounts[i].load() > 0) vertices[i] = seam_angles::verticesOf(BlockMeshes[i]);
        std::vector<double> all;
        for (int axis = 0; axis < 3; ++axis) {
            std::vector<double> degrees;
            for (int x = 0; x < towerBlocksPerAxis; ++x)
                for (int y = 0; y < towerBlocksPerAxis; ++y)
                    for (int z = 0; z < towerBlocksPerAxis; ++z) {
                        const int next[3] = {x + (axis == 0), y + (axis == 1), z + (axis == 2)};
                        if (next[axis] >= towerBlocksPerAxis) continue;
                        seam_angles::addSeamAngles(vertices[blockIndex(x, y, z)],
                                                   vertices[blockIndex(next[0], next[1], next[2])],
                                                   axis, degrees);
                    }
            printRow(names[mode], axes[axis], degrees);
            all.insert(all.end(), degrees.begin(), degrees.end());
        }
        printRow(names[mode], "all", all);
    }
    return 0;
}
