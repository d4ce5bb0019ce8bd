#include "platform/trace/trace.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace trace {

namespace {

using Clock = std::chrono::steady_clock;

struct Event {
    const char* name;
    int track;
    double begin, duration; // microseconds
    int argCount;
    const char* argNames[Slice::maxArgs];
    std::int64_t argValues[Slice::maxArgs];
};

struct Recorder {
    std::mutex mutex;
    Clock::time_point start;
    std::vector<Event> events;
    std::vector<std::string> trackNames; // index: track id - 1
    std::map<std::string, std::string> metadata;
    std::map<std::string, std::vector<std::string>> metadataLists;
    bool gpuClockNoted = false;
    std::uint64_t gpuTicksAtNote = 0, gpuTicksPerSecond = 1;
    double traceMicrosecondsAtNote = 0;
};

std::atomic<bool> active{false};
std::atomic<bool> gpuClock{false};

Recorder& recorder() {
    static Recorder instance;
    return instance;
}

// The calling thread's track id (from 1), 0 until the thread is named or records.
thread_local int threadTrack = 0;

int trackNamed(Recorder& r, const std::string& name) {
    const auto found = std::find(r.trackNames.begin(), r.trackNames.end(), name);
    if (found != r.trackNames.end()) return static_cast<int>(found - r.trackNames.begin()) + 1;
    r.trackNames.push_back(name);
    return static_cast<int>(r.trackNames.size());
}

// Under the recorder's mutex.
int thisThreadTrack(Recorder& r) {
    if (threadTrack == 0)
        threadTrack = trackNamed(r, "thread " + std::to_string(r.trackNames.size() + 1));
    return threadTrack;
}

// "model name" of /proc/cpuinfo, or empty.
std::string cpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        return line.substr(line.find_first_not_of(" \t", colon + 1));
    }
    return {};
}

nlohmann::json eventJson(const Event& event) {
    nlohmann::json json = {{"name", event.name}, {"ph", "X"},     {"pid", 1},
                           {"tid", event.track}, {"ts", event.begin}, {"dur", event.duration}};
    if (event.argCount > 0) {
        nlohmann::json args = nlohmann::json::object();
        for (int a = 0; a < event.argCount; ++a)
            args[event.argNames[a]] = event.argValues[a];
        json["args"] = std::move(args);
    }
    return json;
}

void record(Event event) {
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    if (event.track == 0) event.track = thisThreadTrack(r);
    r.events.push_back(event);
}

} // namespace

bool recording() {
    return active.load(std::memory_order_relaxed);
}

void startRecording() {
    Recorder& r = recorder();
    {
        std::lock_guard lock(r.mutex);
        if (active.load()) return;
        r.start = Clock::now();
        r.metadata["cpu"] = cpuModel();
        r.metadata["cores"] = std::to_string(std::thread::hardware_concurrency());
    }
    active.store(true);
}

double now() {
    return std::chrono::duration<double, std::micro>(Clock::now() - recorder().start).count();
}

void nameThisThread(const std::string& name) {
    if (!recording()) return;
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    threadTrack = trackNamed(r, name);
}

void setMetadata(const std::string& key, const std::string& value) {
    if (!recording()) return;
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    r.metadata[key] = value;
}

void appendMetadata(const std::string& key, const std::string& value) {
    if (!recording()) return;
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    r.metadataLists[key].push_back(value);
}

Slice::Slice(const char* name) : name_(name) {
    if (recording()) begin_ = now();
}

void Slice::arg(const char* name, std::int64_t value) {
    if (begin_ < 0 || argCount_ == maxArgs) return;
    argNames_[argCount_] = name;
    argValues_[argCount_] = value;
    ++argCount_;
}

void Slice::end() {
    if (begin_ < 0) return;
    Event event{name_, 0, begin_, now() - begin_, argCount_, {}, {}};
    std::copy(argNames_, argNames_ + argCount_, event.argNames);
    std::copy(argValues_, argValues_ + argCount_, event.argValues);
    begin_ = -1;
    record(event);
}

void completeSlice(const char* name, double beginMicroseconds) {
    if (!recording()) return;
    record(Event{name, 0, beginMicroseconds, now() - beginMicroseconds, 0, {}, {}});
}

void noteGpuClock(std::uint64_t ticks, std::uint64_t ticksPerSecond, double traceMicroseconds) {
    if (!recording() || ticksPerSecond == 0) return;
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    if (r.gpuClockNoted) return;
    r.gpuClockNoted = true;
    r.gpuTicksAtNote = ticks;
    r.gpuTicksPerSecond = ticksPerSecond;
    r.traceMicrosecondsAtNote = traceMicroseconds;
    gpuClock.store(true);
}

bool gpuClockKnown() {
    return gpuClock.load(std::memory_order_relaxed);
}

void gpuSlice(const char* name, std::uint64_t beginTicks, std::uint64_t endTicks) {
    if (!recording() || !gpuClockKnown() || endTicks < beginTicks) return;
    Recorder& r = recorder();
    std::lock_guard lock(r.mutex);
    const auto microseconds = [&r](std::uint64_t ticks) {
        // Signed: a timestamp may precede the note.
        const double sinceNote = static_cast<double>(static_cast<std::int64_t>(ticks - r.gpuTicksAtNote));
        return r.traceMicrosecondsAtNote + sinceNote * 1e6 / static_cast<double>(r.gpuTicksPerSecond);
    };
    const double begin = microseconds(beginTicks);
    r.events.push_back(Event{name, trackNamed(r, "gpu"), begin, microseconds(endTicks) - begin, 0, {}, {}});
}

bool writeTrace(const std::string& path, std::string* problem) {
    Recorder& r = recorder();
    nlohmann::json events = nlohmann::json::array();
    {
        std::lock_guard lock(r.mutex);
        events.push_back({{"name", "process_name"}, {"ph", "M"}, {"pid", 1}, {"tid", 0},
                          {"args", {{"name", "gorvane"}}}});
        for (std::size_t t = 0; t < r.trackNames.size(); ++t) {
            const int tid = static_cast<int>(t) + 1;
            events.push_back({{"name", "thread_name"}, {"ph", "M"}, {"pid", 1}, {"tid", tid},
                              {"args", {{"name", r.trackNames[t]}}}});
            // Tracks in the order they were named: main, the workers, the GPU.
            events.push_back({{"name", "thread_sort_index"}, {"ph", "M"}, {"pid", 1},
                              {"tid", tid}, {"args", {{"sort_index", tid}}}});
        }
        // Parents before their children: by start, the longer first.
        std::vector<Event> sorted = r.events;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Event& a, const Event& b) {
            return a.begin != b.begin ? a.begin < b.begin : a.duration > b.duration;
        });
        for (const Event& event : sorted)
            events.push_back(eventJson(event));
    }
    nlohmann::json other = nlohmann::json::object();
    {
        std::lock_guard lock(r.mutex);
        for (const auto& [key, value] : r.metadata)
            other[key] = value;
        for (const auto& [key, values] : r.metadataLists)
            other[key] = values;
    }
    const nlohmann::json document = {
        {"traceEvents", std::move(events)}, {"displayTimeUnit", "ms"}, {"otherData", other}};

    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        *problem = std::strerror(errno);
        return false;
    }
    const std::string text = document.dump();
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fputc('\n', file) != EOF;
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *problem = std::strerror(written ? errno : writeError);
        return false;
    }
    return true;
}

} // namespace trace
