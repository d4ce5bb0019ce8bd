// The engine's own frame, headless: the level's sky, the 13 lines of statistics text (four of
// them outlined), the two progress panels, no terrain. Each iteration waits for the frame to
// finish drawing, so the rate is that of whole frames.
//   bench_engine_frame [--benchmark_min_time=2]
#include "engine/engine.h"
#include "platform/d3d9/gl_device.h"
#include "platform/engine/engine_host.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr EngineNumber one = 1024;

void drawStatistics(EngineText* text) {
    const EngineVector black{0, 0, 0}, white{255 * one, 255 * one, 255 * one};
    const EngineVector green{0, 255 * one, 0};
    static const char* const suffixes[4] = {" vertexes", " polygons", " fps",
                                            "sec calculationTime"};
    for (int line = 0; line < 4; ++line) {
        str_for_num(text, (123456 + line) * one);
        str_cat(text, suffixes[line]);
        const int top = line == 0 ? 0 : line == 1 ? 19 : 20 * line;
        draw_text(text->characters, 0, top * one, &black);
        draw_text(text->characters, 2 * one, (top + 2) * one, &black);
        draw_text(text->characters, one, (top + 1) * one, &white);
    }
    static const char* const timings[5] = {"ms BlockMapMax", "ms BlockVertexMax", "sec BlockMapSum",
                                           "sec BlockVertexSum", " maxVertexBlock"};
    for (int line = 0; line < 5; ++line) {
        str_for_num(text, 4321 * line);
        str_cat(text, timings[line]);
        draw_text(text->characters, 0, (120 + 20 * line) * one, &green);
    }
    static const char* const help[4] = {"(c)  create new tower",
                                        "(m)  change calculation mode: cpu + density map on gpu",
                                        "(w a s d)  camera movement", "DualCore mode"};
    for (int line = 0; line < 4; ++line) {
        str_cpy(text, help[line]);
        draw_text(text->characters, 0, (500 + 20 * line) * one, &white);
    }
}

void makeProgressPanels() {
    const EngineVector white{255 * one, 255 * one, 255 * one}, grey{64 * one, 64 * one, 64 * one};
    EnginePanel* bar = pan_create(" ", 100 * one);
    bar->bitmap = bmap_createblack(256 * one, 16 * one, 24 * one);
    bmap_fill(bar->bitmap, &white, 100 * one);
    bar->flags |= panelVisible;
    bar->x = bar->y = 4 * one;
    bar->width = 256 * one;
    bar->height = 16 * one;
    bar->scaleX = one / 2;

    EnginePanel* frame = pan_create(" ", 99 * one);
    frame->bitmap = bmap_createblack(264 * one, 24 * one, 24 * one);
    bmap_fill(frame->bitmap, &grey, 100 * one);
    frame->flags |= panelVisible;
    frame->width = 264 * one;
    frame->height = 24 * one;
}

void engineFrame(benchmark::State& state) {
    EngineSlotTable* table = engine_open("-nx 160", nullptr);
    auto* device = static_cast<IDirect3DDevice9*>(engineSlot(table, EnginePos::device));
    if (!device) {
        state.SkipWithError("no headless OpenGL 4.5 device");
        return;
    }
    level_load("level.wmb");
    makeProgressPanels();
    EngineText* text = str_create("#100");
    for (auto _ : state) {
        drawStatistics(text);
        engine_frame();
        d3d9gl::bindThreadContext(device);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(d3d9gl::rendererName(device));
}
BENCHMARK(engineFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char program[] = "bench_engine_frame";
    char headless[] = "--headless";
    char size[] = "--size";
    char extent[] = "1280x720";
    char data[] = "--data";
    char dataDirectory[] = GORVANE_DATA_DIR;
    char* hostArguments[] = {program, headless, size, extent, data, dataDirectory};
    if (engineHostConfigure(6, hostArguments) != 0) return EXIT_FAILURE;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
