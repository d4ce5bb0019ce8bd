// A device over a GLFW window (on Xvfb when there is no display): the main thread keeps the
// window's context, other threads draw through hidden shared contexts, and presenting shows
// the back buffer in the window flipped once: what the X server shows matches the back buffer
// row for row, top first.
#include "gl_test_support.h"

#include <gtest/gtest.h>

// After gtest: Xlib's macros (None, Bool, ...) would break its headers.
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

#include <cstring>
#include <thread>
#include <vector>

namespace d3d9gl::test {
namespace {

constexpr int kWidth = 64, kHeight = 32;

TEST(Windowed, HiddenContextsDrawAndPresentShowsRowZeroAtTheTop) {
    if (!ensureDisplay() || glfwInit() != GLFW_TRUE) {
        GTEST_SKIP() << "no X display";
    }
    setenv("GORVANE_GL_DEBUG", "abort", 0);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(kWidth, kHeight, "d3d9 windowed test", nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    glfwMakeContextCurrent(window);
    {
        Ref<IDirect3DDevice9> device;
        ASSERT_EQ(createWindowedDevice(window, kWidth, kHeight, device.out()), S_OK);
        EXPECT_NE(std::strlen(rendererName(device.get())), 0u);

        // Red from the main thread, then two bands of blue rows from two other threads (each
        // through a hidden window's context), one after the other. The read-back ends the main
        // thread's batch before the others draw over it.
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1, 0), S_OK);
        std::vector<std::uint8_t> backBuffer;
        ASSERT_EQ(readBackBuffer(device.get(), backBuffer), S_OK);
        EXPECT_EQ(backBuffer[std::size_t{8 * kWidth * 4}], 255) << "row 8 red";
        for (int band = 1; band <= 2; ++band) {
            std::thread([&] {
                const RECT rows = {0, 8 * band, kWidth, 8 * band + 8};
                EXPECT_EQ(device->Clear(1, &rows, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1, 0),
                          S_OK);
            }).join();
        }
        ASSERT_EQ(readBackBuffer(device.get(), backBuffer), S_OK);
        EXPECT_EQ(backBuffer[0], 255) << "row 0 red";
        EXPECT_EQ(backBuffer[std::size_t{8 * kWidth * 4 + 2}], 255) << "row 8 blue";
        EXPECT_EQ(backBuffer[std::size_t{24 * kWidth * 4 + 0}], 255) << "row 24 red";

        // What the window shows, read from the X server, top row first.
        presentToWindow(device.get());
        glFinish();
        Display* display = glfwGetX11Display();
        XSync(display, False);
        XImage* image =
            XGetImage(display, glfwGetX11Window(window), 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const unsigned long shown = XGetPixel(image, x, y);
                const std::uint8_t* drawn =
                    backBuffer.data() + static_cast<std::size_t>(y * kWidth + x) * 4;
                wrong += ((shown >> 16) & 0xFF) != drawn[0] || ((shown >> 8) & 0xFF) != drawn[1] ||
                         (shown & 0xFF) != drawn[2];
            }
        }
        XDestroyImage(image);
        EXPECT_EQ(wrong, 0);
    }
    glfwDestroyWindow(window);
    // No glfwTerminate: it unloads the GL driver, and LeakSanitizer could then no longer tell
    // the driver's own leftovers (suppressed by library) from ours.
}

} // namespace
} // namespace d3d9gl::test
