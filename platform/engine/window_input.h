// The keyboard and mouse of the engine's window.
#pragma once

#include "platform/engine/key_script.h"

#include <array>

struct GLFWwindow;

namespace engine {

struct WindowInput {
    std::array<bool, keyCount> held{}; // down now, or pressed and released since the last poll
    double mouseDeltaX = 0;            // pixels moved with the left button held, right positive
    double mouseDeltaY = 0;            // down positive
    bool closeRequested = false;
};

// Starts listening to `window`'s keys.
void attachWindowInput(GLFWwindow* window);

// Processes the window's events and reads its keys and mouse.
WindowInput pollWindowInput(GLFWwindow* window);

} // namespace engine
