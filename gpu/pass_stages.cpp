#include "gpu/pass_stages.h"

#include "platform/trace/trace.h"

#include <cassert>
#include <deque>
#include <thread>

using Clock = std::chrono::steady_clock;

// The GPU timestamps of one traced pass, one at its start and one after each stage, as a
// Direct3D program takes them: bracketed by a disjoint query, with the frequency query (which
// also places the GPU's clock on the trace's). Read back later, once the GPU has written them,
// so that tracing adds no wait to the worker.
class GpuStageTimestamps {
  public:
    explicit GpuStageTimestamps(IDirect3DDevice9* device) : device_(device) {
        if (FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, &frequency_)) ||
            FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, &disjoint_)))
            return;
        frequency_->Issue(D3DISSUE_END);
        disjoint_->Issue(D3DISSUE_BEGIN);
        mark(nullptr);
    }
    ~GpuStageTimestamps() {
        for (IDirect3DQuery9* query : {frequency_, disjoint_})
            if (query != nullptr) query->Release();
        for (int i = 0; i < count_; ++i)
            timestamps_[i]->Release();
    }
    GpuStageTimestamps(const GpuStageTimestamps&) = delete;
    GpuStageTimestamps& operator=(const GpuStageTimestamps&) = delete;

    // The end of stage `name` (null: the pass's start).
    void mark(const char* name) {
        if (disjoint_ == nullptr || count_ == maxTimestamps) return;
        IDirect3DQuery9* query = nullptr;
        if (FAILED(device_->CreateQuery(D3DQUERYTYPE_TIMESTAMP, &query))) return;
        if (FAILED(query->Issue(D3DISSUE_END))) {
            query->Release();
            return;
        }
        stageNames_[count_] = name;
        timestamps_[count_++] = query;
    }

    // After the last stage: ends the disjoint interval and sends the last timestamp on its
    // way, so that the GPU writes it when it gets there rather than at this context's next
    // flush, which may come after the other worker's pass.
    void close() {
        if (disjoint_ == nullptr || count_ == 0) return;
        disjoint_->Issue(D3DISSUE_END);
        timestamps_[count_ - 1]->GetData(nullptr, 0, D3DGETDATA_FLUSH);
    }

    // Puts the stage times on the gpu track once every result is there. False while some are
    // not (and `wait` is false); true once published, or when there is nothing to publish (a
    // query refused, or the clock jumped).
    bool publish(bool wait) {
        if (disjoint_ == nullptr || count_ < 2) return true;
        UINT64 ticksPerSecond = 0;
        BOOL jumped = TRUE;
        UINT64 ticks[maxTimestamps] = {};
        if (!read(frequency_, &ticksPerSecond, sizeof ticksPerSecond, wait) ||
            !read(disjoint_, &jumped, sizeof jumped, wait))
            return false;
        for (int i = 0; i < count_; ++i)
            if (!read(timestamps_[i], &ticks[i], sizeof ticks[i], wait)) return false;
        if (failed_ || jumped || ticksPerSecond == 0) return true;
        for (int i = 1; i < count_; ++i)
            trace::gpuSlice(stageNames_[i], ticks[i - 1], ticks[i]);
        return true;
    }

  private:
    // The pass's stages: density, cells, pyramid, the total's read-back, vertices and the
    // mesh's or the density's read-back, after the start.
    static constexpr int maxTimestamps = 8;

    // `data` holds `size` bytes, the query's data size. False while the result is not there.
    bool read(IDirect3DQuery9* query, void* data, DWORD size, bool wait) {
        assert(data != nullptr && size == query->GetDataSize());
        HRESULT result;
        while ((result = query->GetData(data, size, wait ? D3DGETDATA_FLUSH : 0)) == S_FALSE) {
            if (!wait) return false;
            std::this_thread::yield();
        }
        failed_ = failed_ || result != S_OK;
        return true;
    }

    IDirect3DDevice9* device_;
    IDirect3DQuery9* frequency_ = nullptr;
    IDirect3DQuery9* disjoint_ = nullptr;
    IDirect3DQuery9* timestamps_[maxTimestamps] = {};
    const char* stageNames_[maxTimestamps] = {};
    int count_ = 0;
    bool failed_ = false;
};

namespace {

// The traced passes of this thread whose timestamps are not read yet, oldest first; the
// last ones are read by publishPendingGpuTimes.
struct PendingTimestamps {
    std::deque<std::unique_ptr<GpuStageTimestamps>> passes;

    void publishReady() {
        while (!passes.empty() && passes.front()->publish(false))
            passes.pop_front();
    }
    // At thread exit the device's state of this thread may already be gone, and with it the
    // context these queries belong to: whatever publishPendingGpuTimes did not read is left.
    ~PendingTimestamps() {
        for (auto& pass : passes)
            static_cast<void>(pass.release());
    }
};
thread_local PendingTimestamps pendingTimestamps;

} // namespace

PassStages::PassStages(IDirect3DDevice9* device, GpuPassTimes* times) : times_(times) {
    if (times_ != nullptr) {
        *times_ = {};
        device->CreateQuery(D3DQUERYTYPE_EVENT, &event_);
        start_ = Clock::now();
    }
    if (trace::recording()) {
        // The earlier passes' timestamps are written by now (their read-backs waited for the
        // GPU, and the pass that held the lock since has ended): reading them here, where the
        // device waits for nothing else, costs microseconds.
        pendingTimestamps.publishReady();
        traceStart_ = trace::now();
        gpu_ = std::make_unique<GpuStageTimestamps>(device);
    }
}

PassStages::~PassStages() {
    if (event_ != nullptr) event_->Release();
}

void PassStages::stop(const char* name, double GpuPassTimes::*stage) {
    if (gpu_ != nullptr) {
        trace::completeSlice(name, traceStart_);
        gpu_->mark(name);
        traceStart_ = trace::now();
    }
    if (times_ == nullptr) return;
    if (event_ != nullptr && SUCCEEDED(event_->Issue(D3DISSUE_END))) {
        while (event_->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE)
            std::this_thread::yield();
    }
    const Clock::time_point now = Clock::now();
    times_->*stage += std::chrono::duration<double, std::milli>(now - start_).count();
    start_ = now;
}

void PassStages::closeGpuTiming() {
    if (gpu_ == nullptr) return;
    gpu_->close();
    pendingTimestamps.passes.push_back(std::move(gpu_));
}

void publishPendingGpuTimes() {
    for (const auto& pass : pendingTimestamps.passes)
        pass->publish(true);
    pendingTimestamps.passes.clear();
}
