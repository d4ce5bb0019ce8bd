// Message boxes in the engine's window (run under a virtual X server), where a person answers:
// a worker's box returns at once, without a frame, and the main thread's next frame draws it
// over the frame and waits there until the window is asked to close, which answers the box and
// then ends the engine.
#include "engine/engine.h"
#include "platform/d3d9/gl_device.h"
#include "platform/engine/engine_host.h"
#include "platform/engine/frame_renderer.h"
#include "platform/win32/windows.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Pixels of the back buffer in a box's body grey.
std::size_t boxBodyPixels(IDirect3DDevice9* device) {
    std::vector<std::uint8_t> rgba;
    EXPECT_EQ(d3d9gl::readBackBuffer(device, rgba), S_OK);
    std::size_t count = 0;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const bool grey =
            std::all_of(rgba.begin() + static_cast<std::ptrdiff_t>(i),
                        rgba.begin() + static_cast<std::ptrdiff_t>(i + 3),
                        [](std::uint8_t c) { return c == engine::messageBoxBodyLevel; });
        count += grey ? 1 : 0;
    }
    return count;
}

TEST(MessageBoxWindow, AWorkersBoxReturnsAtOnceAndTheNextFrameWaitsWithItForAnAnswer) {
    const char* argv[] = {"message_box_window_test", "--data", GORVANE_DATA_DIR, "--size",
                          "320x240"};
    ASSERT_EQ(engineHostConfigure(5, const_cast<char**>(argv)), 0);
    EngineSlotTable* table = engine_open("", nullptr);
    GLFWwindow* const window = glfwGetCurrentContext();
    ASSERT_NE(window, nullptr) << "no window: the test needs a display (xvfb-run)";
    auto* device = static_cast<IDirect3DDevice9*>(engineSlot(table, EnginePos::device));
    ASSERT_EQ(engine_frame(), 1);
    const std::size_t greyBefore = boxBodyPixels(device);

    // No frame runs meanwhile: a worker that waited for the main thread would never return.
    std::future<int> worker = std::async(std::launch::async, [] {
        return MessageBoxA(nullptr, "das wird nicht klappen", "info", MB_OK);
    });
    ASSERT_EQ(worker.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(worker.get(), IDOK);

    std::atomic<bool> closeAsked = false;
    std::thread closer([window, &closeAsked] {
        std::this_thread::sleep_for(500ms);
        closeAsked = true;
        glfwSetWindowShouldClose(window, GLFW_TRUE);
        glfwPostEmptyEvent();
    });
    EXPECT_EQ(engine_frame(), 1);
    const bool answeredByTheClose = closeAsked;
    closer.join();
    EXPECT_TRUE(answeredByTheClose) << "the frame did not wait for an answer";
    // A 320 x 240 box body is thousands of pixels, whatever the text covers of it.
    EXPECT_GT(boxBodyPixels(device), greyBefore + 2000);
    // The close that answered the box still ends the engine.
    EXPECT_EQ(engine_frame(), 0);
}

} // namespace
