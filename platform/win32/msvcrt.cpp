#include "platform/win32/msvcrt.h"

#include <atomic>
#include <cstdint>

namespace msvcrt {

namespace {
std::atomic<std::uint32_t> randState{1};
}

void srand(unsigned seed) {
    randState.store(seed, std::memory_order_relaxed);
}

int rand() {
    std::uint32_t state = randState.load(std::memory_order_relaxed);
    std::uint32_t next;
    do {
        next = state * 214013u + 2531011u;
    } while (!randState.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & 32767u);
}

} // namespace msvcrt
