#include "platform/win32/msvcrt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

std::vector<int> draw(int count) {
    std::vector<int> values(count);
    std::generate(values.begin(), values.end(), msvcrt::rand);
    return values;
}

TEST(Win32Msvcrt, SeedOneGivesTheKnownSequenceAndReseedingRepeatsIt) {
    msvcrt::srand(1);
    const std::vector<int> first = draw(1000);
    EXPECT_EQ(std::vector<int>(first.begin(), first.begin() + 5),
              (std::vector<int>{41, 18467, 6334, 26500, 19169}));
    EXPECT_TRUE(
        std::all_of(first.begin(), first.end(), [](int v) { return v >= 0 && v <= 32767; }));

    msvcrt::srand(1);
    EXPECT_EQ(draw(1000), first);

    msvcrt::srand(2);
    EXPECT_NE(draw(5), std::vector<int>(first.begin(), first.begin() + 5));
}

TEST(Win32Msvcrt, ConcurrentCallersShareOneSequenceStepByStep) {
    constexpr int perThread = 5000;
    msvcrt::srand(7);
    std::vector<int> expected = draw(2 * perThread);

    msvcrt::srand(7);
    std::vector<int> a;
    std::vector<int> b;
    std::thread other([&b] { b = draw(perThread); });
    a = draw(perThread);
    other.join();

    std::vector<int> drawn = a;
    drawn.insert(drawn.end(), b.begin(), b.end());
    std::sort(drawn.begin(), drawn.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(drawn, expected);
}

} // namespace
