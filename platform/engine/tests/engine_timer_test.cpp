// timer(): microseconds (as an EngineNumber) since its previous call, by whichever thread.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t microseconds(std::chrono::microseconds duration) {
    return duration.count() * 1024;
}

TEST(EngineTimer, MeasuresFromThePreviousCallOfAnyThread) {
    timer();
    EngineNumber measuredByWorker = 0;
    std::thread worker([&measuredByWorker] {
        std::this_thread::sleep_for(30ms);
        measuredByWorker = timer();
    });
    worker.join();
    const EngineNumber measuredAfterJoin = timer();

    EXPECT_GE(measuredByWorker, microseconds(30ms));
    EXPECT_LT(measuredByWorker, microseconds(1500ms));
    // The worker's call restarted the interval: only the join lies between.
    EXPECT_LT(measuredAfterJoin, measuredByWorker);
    EXPECT_GE(measuredAfterJoin, 0);
}

TEST(EngineTimer, IntervalsOfConcurrentCallersShareOneTimeline) {
    // Both threads call timer() as fast as they can over the same 100 ms.
    std::atomic<bool> go{false};
    std::vector<std::int64_t> sums(2, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < sums.size(); ++t) {
        threads.emplace_back([&go, &sums, t] {
            while (!go.load())
                std::this_thread::yield();
            const auto end = std::chrono::steady_clock::now() + 100ms;
            while (std::chrono::steady_clock::now() < end) {
                const EngineNumber interval = timer();
                EXPECT_GE(interval, 0);
                sums[t] += interval;
            }
        });
    }
    const auto start = std::chrono::steady_clock::now();
    timer();
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    // Every call measures from the call just before it, whichever thread made it, so the
    // intervals add up to the time the calls took, not to twice that as separate timelines
    // per thread would (and two microseconds of rounding).
    EXPECT_LE(sums[0] + sums[1], microseconds(elapsed) + microseconds(2us));
    EXPECT_GE(sums[0] + sums[1], microseconds(100ms) * 3 / 4);
}

TEST(EngineTimer, IntervalsBeyondTwoSecondsSaturate) {
    timer();
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(timer(), std::numeric_limits<EngineNumber>::max());
}

} // namespace
