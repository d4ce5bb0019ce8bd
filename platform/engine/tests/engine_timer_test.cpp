// timer(): microseconds (as an EngineNumber) since the calling thread's previous call.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t microseconds(std::chrono::microseconds duration) {
    return duration.count() * 1024;
}

TEST(EngineTimer, EachThreadMeasuresFromItsOwnPreviousCall) {
    timer();
    EngineNumber measuredByWorker = -1;
    std::thread worker([&measuredByWorker] {
        timer();
        std::this_thread::sleep_for(30ms);
        measuredByWorker = timer();
    });
    worker.join();
    const EngineNumber measuredAfterJoin = timer();

    EXPECT_GE(measuredByWorker, microseconds(30ms));
    // The worker's calls did not restart this thread's interval, which spans the whole worker.
    EXPECT_GE(measuredAfterJoin, microseconds(30ms));
    EXPECT_GE(measuredAfterJoin, measuredByWorker);
}

TEST(EngineTimer, AnotherThreadsCallsDoNotCutAnIntervalShort) {
    // One thread times a 60 ms step while another times many short steps, as the two workers
    // of a tower do.
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop.load()) {
            timer();
            std::this_thread::sleep_for(1ms);
            EXPECT_GE(timer(), 0);
        }
    });
    timer();
    std::this_thread::sleep_for(60ms);
    const EngineNumber step = timer();
    stop = true;
    busy.join();
    EXPECT_GE(step, microseconds(60ms));
}

TEST(EngineTimer, IntervalsBeyondTwoSecondsSaturate) {
    timer();
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(timer(), std::numeric_limits<EngineNumber>::max());
}

} // namespace
