// MessageBoxA's boxes in the engine's window.
//
// A box raised on the main thread where a person can answer (a window without a key script) is
// drawn over the last frame and waits there for a key, a click or the window's close. Every
// other box returns at once and is queued: one raised by a worker (which may hold a lock the
// main thread waits for), one raised during a frame that a key hook draws (a tower's progress
// frame, whose hook holds locks the workers need), and every box of a scripted run. The main
// thread draws the oldest queued box over its frames: where a person can answer, it waits for
// the answer in the first frame drawn outside a key hook (until then it shows without asking
// for one); in a scripted run it shows for scriptedBoxFrames frames and nobody is waited for. Headless, no presenter is installed and a
// box is only the line MessageBoxA prints.
#pragma once

#include "platform/d3d9/d3d9.h"

struct GLFWwindow;

namespace engine {

constexpr int scriptedBoxFrames = 30;

struct MessageBoxScreen {
    GLFWwindow* window = nullptr;
    IDirect3DDevice9* device = nullptr;
    int width = 0, height = 0;
    bool personAnswers = false; // false in a scripted run
};

// Installs MessageBoxA's presenter for `screen`. Main thread, once the window and its device
// exist; the calling thread is the one whose boxes may wait.
void showMessageBoxesOn(const MessageBoxScreen& screen);

// Main thread: whether a box raised now may wait for its answer (false while a frame nested in
// a key hook runs). The engine's frame sets it.
void setMessageBoxesMayWait(bool mayWait);

// Main thread, after a frame has drawn its overlay and before it is presented: draws the
// queued box that is due over the frame, or, when boxes may wait and a person answers, shows
// each queued box in turn until it is answered.
void showQueuedMessageBoxes();

} // namespace engine
