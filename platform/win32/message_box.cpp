#include "platform/win32/message_box_log.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

namespace {

struct MessageBoxState {
    std::mutex mutex;
    std::vector<win32::MessageBoxRecord> history;
    // Shared so that a box being presented keeps its presenter while another is installed.
    std::shared_ptr<const win32::MessageBoxPresenter> presenter;
};

MessageBoxState& state() {
    static MessageBoxState instance;
    return instance;
}

} // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    win32::MessageBoxRecord box{caption != nullptr ? caption : "Error", text != nullptr ? text : "",
                                type, std::this_thread::get_id()};
    std::shared_ptr<const win32::MessageBoxPresenter> presenter;
    {
        MessageBoxState& s = state();
        const std::lock_guard lock(s.mutex);
        // Printed under the lock so that boxes from two threads never interleave.
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
        std::fflush(stderr);
        s.history.push_back(box);
        presenter = s.presenter;
    }
    if ((type & MB_TYPEMASK) != MB_OK) {
        return 0;
    }
    if (presenter != nullptr) {
        (*presenter)(box);
    }
    return IDOK;
}

namespace win32 {

std::vector<MessageBoxRecord> messageBoxHistory() {
    MessageBoxState& s = state();
    const std::lock_guard lock(s.mutex);
    return s.history;
}

void clearMessageBoxHistory() {
    MessageBoxState& s = state();
    const std::lock_guard lock(s.mutex);
    s.history.clear();
}

void setMessageBoxPresenter(MessageBoxPresenter presenter) {
    auto installed =
        presenter ? std::make_shared<const MessageBoxPresenter>(std::move(presenter)) : nullptr;
    MessageBoxState& s = state();
    const std::lock_guard lock(s.mutex);
    s.presenter = std::move(installed);
}

} // namespace win32
