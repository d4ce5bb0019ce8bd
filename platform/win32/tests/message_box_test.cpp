#include "platform/win32/message_box_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

class Win32MessageBox : public testing::Test {
  protected:
    void SetUp() override { win32::clearMessageBoxHistory(); }
    void TearDown() override {
        win32::setMessageBoxPresenter(nullptr);
        win32::clearMessageBoxHistory();
    }
};

TEST_F(Win32MessageBox, WithoutAPresenterBoxesArePrintedAndRecorded) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "volume too large", "notice", MB_ICONWARNING), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "notice: volume too large\nError: \n");

    const auto self = std::this_thread::get_id();
    const std::vector<win32::MessageBoxRecord> expected{
        {"notice", "volume too large", MB_ICONWARNING, self}, {"Error", "", MB_OK, self}};
    EXPECT_EQ(win32::messageBoxHistory(), expected);

    win32::clearMessageBoxHistory();
    EXPECT_TRUE(win32::messageBoxHistory().empty());
}

TEST_F(Win32MessageBox, APresenterShowsEachOkBoxOnTheCallingThread) {
    std::vector<win32::MessageBoxRecord> presented;
    win32::setMessageBoxPresenter(
        [&presented](const win32::MessageBoxRecord& box) { presented.push_back(box); });

    EXPECT_EQ(MessageBoxA(nullptr, "cannot build", "failure", MB_ICONERROR), IDOK);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0], (win32::MessageBoxRecord{"failure", "cannot build", MB_ICONERROR,
                                                     std::this_thread::get_id()}));

    // Only OK can be answered; a box asking for more is reported as not shown.
    constexpr UINT okCancel = 0x1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "continue?", "question", okCancel), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "question: continue?\n");
    EXPECT_EQ(presented.size(), 1u);

    win32::setMessageBoxPresenter(nullptr);
    EXPECT_EQ(MessageBoxA(nullptr, "after removal", "notice", MB_OK), IDOK);
    EXPECT_EQ(presented.size(), 1u);
    EXPECT_EQ(win32::messageBoxHistory().size(), 3u);
}

TEST_F(Win32MessageBox, BoxesFromSeveralThreadsAreAllRecordedInTheirOrder) {
    constexpr int threadCount = 4;
    constexpr int boxesPerThread = 25;
    std::atomic<int> presentedCount{0};
    win32::setMessageBoxPresenter(
        [&presentedCount](const win32::MessageBoxRecord&) { presentedCount.fetch_add(1); });

    testing::internal::CaptureStderr();
    std::map<std::thread::id, int> threadIndex;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < boxesPerThread; ++i) {
                const std::string text = std::to_string(t) + "/" + std::to_string(i);
                EXPECT_EQ(MessageBoxA(nullptr, text.c_str(), "worker", MB_OK), IDOK);
            }
        });
        threadIndex[threads.back().get_id()] = t;
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    testing::internal::GetCapturedStderr();

    EXPECT_EQ(presentedCount, threadCount * boxesPerThread);
    const auto history = win32::messageBoxHistory();
    ASSERT_EQ(history.size(), static_cast<size_t>(threadCount * boxesPerThread));
    std::vector<int> nextBox(threadCount, 0);
    for (const auto& box : history) {
        ASSERT_EQ(threadIndex.count(box.thread), 1u);
        const int t = threadIndex[box.thread];
        EXPECT_EQ(box.text, std::to_string(t) + "/" + std::to_string(nextBox[t]++));
    }
}

} // namespace
