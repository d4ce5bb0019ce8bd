// The stages of one GPU block pass, for whoever watches them: a benchmark's GpuPassTimes and,
// while a trace is recorded, the worker's stage slices and the GPU's own stage times.
#pragma once

#include "gpu/block_generation.h"
#include "platform/d3d9/d3d9.h"

#include <chrono>
#include <memory>

class GpuStageTimestamps;

// The caller's GpuPassTimes (a benchmark) and, while a trace is recorded, a slice per stage on
// the worker's track and the GPU's own time per stage on the gpu track. An untraced pass without
// `times` reads no clock and issues no query.
class PassStages {
  public:
    PassStages(IDirect3DDevice9* device, GpuPassTimes* times);
    ~PassStages();
    PassStages(const PassStages&) = delete;
    PassStages& operator=(const PassStages&) = delete;

    // Ends the stage that began at the last stop (or at the start): `name` on the trace, and
    // `stage` of the caller's times, which then counts until the GPU has finished the stage's
    // draws (an event query), so that they count in their own stage and not at the next flush.
    void stop(const char* name, double GpuPassTimes::*stage);

    // At the pass's end: the GPU timestamps are sent on their way, to be read at a later pass
    // of this thread or at its end. Reading them after the lock instead would make the worker
    // wait for the other worker's pass (a device call first waits for what other contexts
    // published).
    void closeGpuTiming();

  private:
    GpuPassTimes* times_;
    std::chrono::steady_clock::time_point start_;
    IDirect3DQuery9* event_ = nullptr;
    double traceStart_ = 0;
    std::unique_ptr<GpuStageTimestamps> gpu_;
};
