#include "platform/engine/message_box_screen.h"

#include "platform/d3d9/gl_device.h"
#include "platform/engine/engine_state.h"
#include "platform/engine/frame_renderer.h"
#include "platform/engine/window_input.h"
#include "platform/win32/message_box_log.h"

#include <GLFW/glfw3.h>

#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace engine {

namespace {

// How long the wait for an answer sleeps between presents when no event comes.
constexpr double answerPollSeconds = 0.1;

struct Screen {
    MessageBoxScreen screen;
    std::thread::id mainThread;
    std::mutex queueMutex;
    std::deque<win32::MessageBoxRecord> queued; // under queueMutex; filled from any thread
    // Main thread only.
    bool mayWait = true;
    std::optional<win32::MessageBoxRecord> shown; // the queued box on screen now
    int framesShown = 0;
};

Screen state;

void announce(const win32::MessageBoxRecord& box, const std::string& until) {
    diagnostic("message box on screen: \"" + box.caption + "\" (" + until + ")");
}

// Draws `box` over what the back buffer holds and presents it until a person answers.
void waitForAnswer(const win32::MessageBoxRecord& box) {
    const MessageBoxScreen& screen = state.screen;
    announce(box, "waits for a key or a click");
    drawMessageBox(screen.device, screen.width, screen.height, box.caption, box.text, true);
    beginAwaitingAnswer();
    // Presented again after every wait, so that an uncovered window shows the box again.
    do {
        d3d9gl::presentToWindow(screen.device);
    } while (!awaitAnswer(screen.window, answerPollSeconds));
    ignoreHeldInput(screen.window);
}

void presentMessageBox(const win32::MessageBoxRecord& box) {
    if (box.thread == state.mainThread && state.screen.personAnswers && state.mayWait) {
        waitForAnswer(box);
        return;
    }
    const std::lock_guard lock(state.queueMutex);
    state.queued.push_back(box);
}

std::optional<win32::MessageBoxRecord> nextQueuedBox() {
    const std::lock_guard lock(state.queueMutex);
    if (state.queued.empty()) return std::nullopt;
    win32::MessageBoxRecord box = std::move(state.queued.front());
    state.queued.pop_front();
    return box;
}

} // namespace

void showMessageBoxesOn(const MessageBoxScreen& screen) {
    state.screen = screen;
    state.mainThread = std::this_thread::get_id();
    win32::setMessageBoxPresenter(presentMessageBox);
}

void setMessageBoxesMayWait(bool mayWait) {
    state.mayWait = mayWait;
}

void showQueuedMessageBoxes() {
    const MessageBoxScreen& screen = state.screen;
    if (screen.device == nullptr) return;
    for (;;) {
        if (!state.shown) {
            state.shown = nextQueuedBox();
            if (!state.shown) return;
            state.framesShown = 0;
            if (!screen.personAnswers)
                announce(*state.shown,
                         "shown for " + std::to_string(scriptedBoxFrames) + " frames");
            else if (!state.mayWait)
                announce(*state.shown, "waits for an answer once the key hook has returned");
        }
        if (screen.personAnswers && state.mayWait) {
            waitForAnswer(*state.shown);
            state.shown.reset();
            continue;
        }
        // Not answerable yet: a key pressed now goes to the program as usual.
        drawMessageBox(screen.device, screen.width, screen.height, state.shown->caption,
                       state.shown->text, false);
        if (!screen.personAnswers && ++state.framesShown >= scriptedBoxFrames) state.shown.reset();
        return;
    }
}

} // namespace engine
