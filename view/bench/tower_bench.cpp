// Builds a whole tower in each calculation mode on a headless 1280 x 720 engine and prints where
// its time went: the tower's calculation time, the wall-clock sums of its GPU passes and of the
// workers' CPU work, their ratio, and the frame rate of the finished tower at the start camera.
//   build/release/view/bench_tower [--frames N]
#include "engine/engine_handles.h"
#include "app/startup.h"
#include "platform/engine/engine_host.h"
#include "terrain/terrain_state.h"
#include "view/tower_creation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(std::int64_t nanoseconds) {
    return static_cast<double>(nanoseconds) * 1e-9;
}

double framesPerSecond(int frames) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < frames; ++i)
        engine_frame();
    return frames / std::chrono::duration<double>(Clock::now() - start).count();
}

int blocksWithTriangles() {
    int count = 0;
    for (const auto& triangles : BlockTriangleCounts)
        count += triangles.load() > 0;
    return count;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 60;
    if (argc == 3 && std::strcmp(argv[1], "--frames") == 0) frames = std::atoi(argv[2]);
    if (frames <= 0 || (argc != 1 && argc != 3)) {
        std::fprintf(stderr, "usage: bench_tower [--frames N]\n");
        return 2;
    }
    char* engineArgs[] = {argv[0], const_cast<char*>("--headless"), const_cast<char*>("--data"),
                          const_cast<char*>(GORVANE_DATA_DIR), const_cast<char*>("--size"),
                          const_cast<char*>("1280x720")};
    if (engineHostConfigure(6, engineArgs) != 0 || startUp() != StartUpOutcome::running) {
        std::fprintf(stderr, "bench_tower: the program could not start headless\n");
        return 1;
    }

    const char* const names[] = {"CpuMeshGpuDensity", "GpuOnly", "GpuVerticesCpuWeld"};
    std::printf("%-20s %9s %9s %9s %9s %9s %8s %9s %8s\n", "mode", "tower s", "calc s", "gpu s",
                "cpu s", "cpu/gpu", "tower/gpu", "triangles", "fps");
    for (int mode = CpuMeshGpuDensity; mode <= GpuVerticesCpuWeld; ++mode) {
        CalculationMode.store(mode);
        const Clock::time_point start = Clock::now();
        createTower();
        const double tower = std::chrono::duration<double>(Clock::now() - start).count();
        const double gpu = seconds(towerGpuPassNanoseconds.load());
        const double cpu = seconds(towerCpuWorkNanoseconds.load());
        std::int64_t triangles = 0;
        for (const auto& count : BlockTriangleCounts)
            triangles += count.load();
        const double fps = framesPerSecond(frames);
        std::printf("%-20s %9.2f %9.3f %9.2f %9.2f %9.3f %8.3f %9lld %8.1f\n", names[mode], tower,
                    fromEngineNumber(calculationTime.load()), gpu, cpu, cpu / gpu, tower / gpu,
                    static_cast<long long>(triangles), fps);
        if (blocksWithTriangles() == 0) {
            std::fprintf(stderr, "bench_tower: the %s tower has no triangles\n", names[mode]);
            return 1;
        }
    }
    std::printf("tower s: createTower wall clock; calc s: calculationTime (1/16 s steps);\n"
                "gpu s / cpu s: summed block passes and worker CPU work; fps: %d frames of the\n"
                "finished tower at the start camera, 1280x720.\n",
                frames);
    return 0;
}
