#include "platform/win32/windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <iterator>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Work that blocks until the test releases it, so the test decides when each thread ends.
struct GatedWork {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> runs{0};
    std::promise<void> finished;
};

DWORD WINAPI runGated(LPVOID parameter) {
    auto* work = static_cast<GatedWork*>(parameter);
    work->released.wait();
    work->runs.fetch_add(1);
    work->finished.set_value();
    return 0;
}

DWORD WINAPI doNothing(LPVOID) {
    return 0;
}

TEST(Win32Threads, WaitForAllTimesOutUntilEveryThreadHasEnded) {
    GatedWork first;
    GatedWork second;
    DWORD firstId = 0;
    DWORD secondId = 0;
    const HANDLE threads[2] = {CreateThread(nullptr, 0, runGated, &first, 0, &firstId),
                               CreateThread(nullptr, 0, runGated, &second, 0, &secondId)};
    ASSERT_NE(threads[0], nullptr);
    ASSERT_NE(threads[1], nullptr);
    EXPECT_NE(threads[0], threads[1]);
    EXPECT_NE(firstId, secondId);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    second.release.set_value();
    EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(second.runs, 1);
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 50), WAIT_TIMEOUT);
    EXPECT_EQ(first.runs, 0);

    first.release.set_value();
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(first.runs, 1);
    // An ended thread stays signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(threads[0], 50), WAIT_OBJECT_0);

    EXPECT_EQ(CloseHandle(threads[0]), TRUE);
    EXPECT_EQ(CloseHandle(threads[1]), TRUE);
}

TEST(Win32Threads, HandlesThatAreNotOpenAreRefused) {
    HANDLE thread = CreateThread(nullptr, 0, doNothing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(0, &thread, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, TRUE, 0), WAIT_FAILED);
    HANDLE tooMany[MAXIMUM_WAIT_OBJECTS + 1];
    std::fill(std::begin(tooMany), std::end(tooMany), thread);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, tooMany, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, tooMany, TRUE, 0), WAIT_OBJECT_0);

    EXPECT_EQ(CloseHandle(thread), TRUE);
    EXPECT_EQ(CloseHandle(thread), FALSE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(CloseHandle(nullptr), FALSE);

    constexpr DWORD createSuspended = 0x4;
    EXPECT_EQ(CreateThread(nullptr, 0, doNothing, nullptr, createSuspended, nullptr), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(Win32Threads, ClosingTheHandleOfARunningThreadLetsItFinish) {
    // Never destroyed: with its handle closed, nothing tells when the thread has fully left
    // runGated, even after it reported being finished.
    static GatedWork* const work = new GatedWork;
    const HANDLE thread = CreateThread(nullptr, 0, runGated, work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(CloseHandle(thread), TRUE);
    work->release.set_value();
    work->finished.get_future().wait();
    EXPECT_EQ(work->runs, 1);
}

// A thread-local object that takes its time to go, the way a thread gives back what it holds
// (a GL context, say) when it ends.
struct SlowToLeave {
    std::atomic<bool>* left = nullptr;
    ~SlowToLeave() {
        std::this_thread::sleep_for(100ms);
        left->store(true);
    }
};

DWORD WINAPI holdUntilExit(LPVOID parameter) {
    thread_local SlowToLeave leaving;
    leaving.left = static_cast<std::atomic<bool>*>(parameter);
    return 0;
}

TEST(Win32Threads, HandleIsSignalledOnlyAfterTheThreadLocalObjectsAreGone) {
    std::atomic<bool> left{false};
    const HANDLE thread = CreateThread(nullptr, 0, holdUntilExit, &left, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(left.load()) << "signalled while the thread was still giving back what it held";
    EXPECT_EQ(CloseHandle(thread), TRUE);
}

struct Counted {
    CRITICAL_SECTION section;
    int counter = 0; // deliberately not atomic: only the critical section protects it
};

constexpr int incrementsPerThread = 10000;

DWORD WINAPI incrementUnderLock(LPVOID parameter) {
    auto* counted = static_cast<Counted*>(parameter);
    for (int i = 0; i < incrementsPerThread; ++i) {
        EnterCriticalSection(&counted->section);
        EnterCriticalSection(&counted->section);
        ++counted->counter;
        LeaveCriticalSection(&counted->section);
        LeaveCriticalSection(&counted->section);
    }
    return 0;
}

TEST(Win32CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    Counted counted;
    InitializeCriticalSection(&counted.section);
    EnterCriticalSection(&counted.section);
    EnterCriticalSection(&counted.section);
    LeaveCriticalSection(&counted.section);

    // Still held once, so no thread can get in.
    HANDLE threads[4];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, incrementUnderLock, &counted, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, 50), WAIT_TIMEOUT);
    EXPECT_EQ(counted.counter, 0);

    LeaveCriticalSection(&counted.section);
    EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(counted.counter, 4 * incrementsPerThread);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    DeleteCriticalSection(&counted.section);
}

} // namespace
