// The run's trace: complete slices on named tracks (one per thread, plus the GPU's), written in
// the Chrome trace-event format ({"traceEvents": [...]}, "ph": "X" slices with "ts" and "dur" in
// microseconds, "thread_name" metadata records), which Perfetto and chrome://tracing open.
//
// Nothing is recorded until startRecording; until then every call below returns at once after
// one relaxed atomic load, so instrumented code costs nothing measurable in an untraced run.
// Slice names and argument names are string literals (kept as pointers). Thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace trace {

// True once startRecording was called.
bool recording();

// Starts keeping slices in memory; the trace clock starts now.
void startRecording();

// Microseconds on the trace clock (steady, since startRecording).
double now();

// Names the calling thread's track ("main", "worker 0"). Several threads may share a name:
// they then share a track (a worker thread of each tower is "worker 0").
void nameThisThread(const std::string& name);

// A text entry of the trace's metadata ("otherData"): the renderer, the back-buffer size. The
// machine (CPU model and cores) is added by the recorder itself.
void setMetadata(const std::string& key, const std::string& value);
// Appends `value` to the metadata list `key` (each tower's mode, in order).
void appendMetadata(const std::string& key, const std::string& value);

// One slice on the calling thread's track, from construction to end() or destruction, with up
// to six integer arguments. Slices of one thread nest by scope.
class Slice {
  public:
    explicit Slice(const char* name);
    ~Slice() { end(); }
    Slice(const Slice&) = delete;
    Slice& operator=(const Slice&) = delete;

    void arg(const char* name, std::int64_t value);
    void end();

    static constexpr int maxArgs = 6;

  private:
    const char* name_;
    double begin_ = -1; // < 0: not recording, or ended
    int argCount_ = 0;
    const char* argNames_[maxArgs] = {};
    std::int64_t argValues_[maxArgs] = {};
};

// A slice on the calling thread's track from `beginMicroseconds` (trace clock) to now, for
// stages that end where the next begins.
void completeSlice(const char* name, double beginMicroseconds);

// GPU timestamps. The Direct3D layer states how its timestamp ticks map onto the trace clock:
// `ticks` read at `traceMicroseconds`, `ticksPerSecond` of them a second. The first note of a
// recording fixes the mapping (one offset, so that GPU slices never reorder).
void noteGpuClock(std::uint64_t ticks, std::uint64_t ticksPerSecond, double traceMicroseconds);
bool gpuClockKnown();
// A slice on the "gpu" track between two GPU timestamps (ticks of the noted clock). Ignored
// until the clock is known.
void gpuSlice(const char* name, std::uint64_t beginTicks, std::uint64_t endTicks);

// Writes what was recorded to `path` as JSON. False, with `problem` set, when it cannot.
bool writeTrace(const std::string& path, std::string* problem);

} // namespace trace
