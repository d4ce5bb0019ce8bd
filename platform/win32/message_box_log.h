// Observing and presenting the message boxes that MessageBoxA shows.
#pragma once

#include "platform/win32/windows.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace win32 {

struct MessageBoxRecord {
    std::string caption;
    std::string text;
    UINT type = MB_OK;
    std::thread::id thread; // the thread that called MessageBoxA

    bool operator==(const MessageBoxRecord&) const = default;
};

// Every box shown since the start or the last clear, oldest first. Safe from any thread.
std::vector<MessageBoxRecord> messageBoxHistory();
void clearMessageBoxHistory();

// Shows one box on screen, or queues it for a later frame, and returns when the box is done
// with. It runs on the thread that called MessageBoxA (often a worker holding a lock that the
// main thread may be waiting for), so it must be safe to call from any thread and must never
// wait for another thread.
using MessageBoxPresenter = std::function<void(const MessageBoxRecord& box)>;

// Installs the presenter (an empty function removes it: boxes are then only printed and
// recorded). A box already being presented finishes with the presenter it started with.
void setMessageBoxPresenter(MessageBoxPresenter presenter);

} // namespace win32
