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

// A person's answer to a message box: a key or a mouse button pressed after
// beginAwaitingAnswer, or the window asked to close. awaitAnswer processes the window's events
// for up to `seconds` and says whether the answer came.
void beginAwaitingAnswer();
bool awaitAnswer(GLFWwindow* window, double seconds);

// After an answer: the keys and the mouse button held now read as released until they are
// let go, so that the press that answered a box reaches nobody else.
void ignoreHeldInput(GLFWwindow* window);

} // namespace engine
