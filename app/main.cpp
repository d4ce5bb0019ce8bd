// The executable: reads its own options for the engine host, runs the program's entry and, if
// asked, writes the run's trace and statistics at exit.
#include "app/startup.h"
#include "app/stats_json.h"
#include "platform/engine/engine_host.h"
#include "platform/trace/trace.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    switch (engineHostConfigure(argc, argv)) {
    case 0:
        break;
    case 1: // --help
        return 0;
    default:
        return 2;
    }

    // -1 after the hardware was refused, which the shell sees as 255.
    int result = gorvaneMain();
    // A requested output that is missing or incomplete must not pass for a clean run.
    if (engineHostScreenshotFailed() && result == 0) result = 1;

    if (const char* path = engineHostTracePath()) {
        std::string problem;
        if (!trace::writeTrace(path, &problem)) {
            std::fprintf(stderr, "gorvane: cannot write the trace %s: %s\n", path, problem.c_str());
            if (result == 0) result = 1;
        }
    }
    if (const char* path = engineHostStatsPath()) {
        const RunStatistics statistics = currentRunStatistics(
            engineHostFramesRun(), engineHostAverageFps(), engineHostRendererName());
        if (!writeStatisticsFile(path, statistics) && result == 0) return 1;
    }
    return result;
}
