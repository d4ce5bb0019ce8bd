#include "platform/engine/window_input.h"

#include <GLFW/glfw3.h>

namespace engine {

namespace {

// The GLFW keys behind each engine key (GLFW numbers the letters in order); -1 for none.
std::array<int, 2> glfwKeys(Key key) {
    const int index = static_cast<int>(key);
    if (index <= static_cast<int>(Key::Z)) return {GLFW_KEY_A + index, -1};
    switch (key) {
    case Key::Up:
        return {GLFW_KEY_UP, -1};
    case Key::Left:
        return {GLFW_KEY_LEFT, -1};
    case Key::Right:
        return {GLFW_KEY_RIGHT, -1};
    case Key::PageUp:
        return {GLFW_KEY_PAGE_UP, -1};
    case Key::PageDown:
        return {GLFW_KEY_PAGE_DOWN, -1};
    case Key::Shift:
        return {GLFW_KEY_LEFT_SHIFT, GLFW_KEY_RIGHT_SHIFT};
    case Key::Space:
        return {GLFW_KEY_SPACE, -1};
    case Key::Ctrl:
        return {GLFW_KEY_LEFT_CONTROL, GLFW_KEY_RIGHT_CONTROL};
    case Key::Escape:
        return {GLFW_KEY_ESCAPE, -1};
    default:
        return {-1, -1};
    }
}

// Keys pressed since the last poll, so that a tap shorter than a frame still counts.
bool pressedSincePoll[GLFW_KEY_LAST + 1];
bool mouseWasHeld = false;
double lastCursorX = 0, lastCursorY = 0;

void onKey(GLFWwindow*, int key, int, int action, int) {
    if (action == GLFW_PRESS && key >= 0 && key <= GLFW_KEY_LAST) pressedSincePoll[key] = true;
}

} // namespace

void attachWindowInput(GLFWwindow* window) {
    glfwSetKeyCallback(window, onKey);
}

WindowInput pollWindowInput(GLFWwindow* window) {
    glfwPollEvents();
    WindowInput input;
    for (int k = 0; k < keyCount; ++k) {
        for (const int glfwKey : glfwKeys(static_cast<Key>(k))) {
            if (glfwKey < 0) continue;
            if (glfwGetKey(window, glfwKey) == GLFW_PRESS || pressedSincePoll[glfwKey])
                input.held[static_cast<std::size_t>(k)] = true;
        }
    }
    for (bool& pressed : pressedSincePoll)
        pressed = false;

    double cursorX = 0, cursorY = 0;
    glfwGetCursorPos(window, &cursorX, &cursorY);
    const bool mouseHeld = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
    if (mouseHeld && mouseWasHeld) {
        input.mouseDeltaX = cursorX - lastCursorX;
        input.mouseDeltaY = cursorY - lastCursorY;
    }
    mouseWasHeld = mouseHeld;
    lastCursorX = cursorX;
    lastCursorY = cursorY;
    input.closeRequested = glfwWindowShouldClose(window) != 0;
    return input;
}

} // namespace engine
