#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Two workers raise one maximum at once, each from its own sequence of timings: the counter
// ends at the largest value either saw, as if one thread had seen them all.
TEST(TerrainState, ConcurrentRaisesKeepTheLargestValue) {
    std::atomic<EngineNumber> counter{0};
    std::vector<EngineNumber> timings[2];
    for (int worker = 0; worker < 2; ++worker)
        for (int i = 0; i < 20000; ++i)
            timings[worker].push_back((i * 7919 + worker * 104729) % 1000003);
    std::thread workers[2];
    for (int worker = 0; worker < 2; ++worker)
        workers[worker] = std::thread([&counter, &timings, worker] {
            for (EngineNumber value : timings[worker]) raiseCounter(counter, value);
        });
    for (std::thread& worker : workers) worker.join();

    const EngineNumber largest = std::max(
        *std::max_element(timings[0].begin(), timings[0].end()),
        *std::max_element(timings[1].begin(), timings[1].end()));
    EXPECT_EQ(counter.load(), largest);

    raiseCounter(counter, largest - 1);
    EXPECT_EQ(counter.load(), largest);
}

} // namespace
