// The window host under a virtual X server: the program opens its window, runs a few frames
// and exits cleanly.
#include "app/tests/run_gorvane.h"

namespace {

TEST(GorvaneWindow, OpensRunsAFewFramesAndExits) {
    const GorvaneRun run = runGorvane("xvfb-run -a", "--frames 10", "window");
    EXPECT_EQ(run.status, 0) << run.errors;
    // The engine's diagnostics (start-up asks for them) say where it draws.
    EXPECT_NE(run.errors.find("drawing into a 1280x720 window"), std::string::npos) << run.errors;
}

} // namespace
