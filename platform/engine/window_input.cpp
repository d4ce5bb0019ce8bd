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
// Keys and the mouse button that answered a message box, ignored until they are let go.
bool ignoredUntilReleased[GLFW_KEY_LAST + 1];
bool mouseIgnoredUntilReleased = false;
bool answerGiven = false;
bool mouseWasHeld = false;
double lastCursorX = 0, lastCursorY = 0;

void onKey(GLFWwindow*, int key, int, int action, int) {
    if (action != GLFW_PRESS) return;
    answerGiven = true;
    if (key >= 0 && key <= GLFW_KEY_LAST) pressedSincePoll[key] = true;
}

void onMouseButton(GLFWwindow*, int, int action, int) {
    if (action == GLFW_PRESS) answerGiven = true;
}

// Whether `glfwKey` (a key behind an engine key) is down now and not ignored.
bool keyDown(GLFWwindow* window, int glfwKey) {
    const bool down = glfwGetKey(window, glfwKey) == GLFW_PRESS;
    if (ignoredUntilReleased[glfwKey]) {
        if (down) return false;
        ignoredUntilReleased[glfwKey] = false;
    }
    return down || pressedSincePoll[glfwKey];
}

bool mouseDown(GLFWwindow* window) {
    const bool down = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
    if (mouseIgnoredUntilReleased) {
        if (down) return false;
        mouseIgnoredUntilReleased = false;
    }
    return down;
}

} // namespace

void attachWindowInput(GLFWwindow* window) {
    glfwSetKeyCallback(window, onKey);
    glfwSetMouseButtonCallback(window, onMouseButton);
}

WindowInput pollWindowInput(GLFWwindow* window) {
    glfwPollEvents();
    WindowInput input;
    for (int k = 0; k < keyCount; ++k) {
        for (const int glfwKey : glfwKeys(static_cast<Key>(k))) {
            if (glfwKey >= 0 && keyDown(window, glfwKey))
                input.held[static_cast<std::size_t>(k)] = true;
        }
    }
    for (bool& pressed : pressedSincePoll)
        pressed = false;

    double cursorX = 0, cursorY = 0;
    glfwGetCursorPos(window, &cursorX, &cursorY);
    const bool mouseHeld = mouseDown(window);
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

void beginAwaitingAnswer() {
    answerGiven = false;
}

bool awaitAnswer(GLFWwindow* window, double seconds) {
    glfwWaitEventsTimeout(seconds);
    return answerGiven || glfwWindowShouldClose(window) != 0;
}

void ignoreHeldInput(GLFWwindow* window) {
    for (int k = 0; k < keyCount; ++k) {
        for (const int glfwKey : glfwKeys(static_cast<Key>(k))) {
            if (glfwKey >= 0 && glfwGetKey(window, glfwKey) == GLFW_PRESS)
                ignoredUntilReleased[glfwKey] = true;
        }
    }
    for (bool& pressed : pressedSincePoll)
        pressed = false;
    mouseIgnoredUntilReleased = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
    mouseWasHeld = false;
}

} // namespace engine
