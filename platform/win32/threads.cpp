#include "platform/win32/windows.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>

namespace {

struct ThreadObject {
    bool signalled = false; // guarded by Kernel::mutex
    // Joined when the handle is closed after the thread signalled, so that no thread of ours is
    // still tearing itself down when the process exits; detached when it is closed earlier.
    std::thread thread; // guarded by Kernel::mutex
};

void signal(ThreadObject& object);

// Signals its thread's object when destroyed. Made first on every thread, it is the thread's
// first thread-local object, so C++ destroys it last: after every thread-local object the
// start routine made, such as one that gives a GL context back at thread exit. Whoever waits
// for the handle then finds what the thread held given back.
struct SignalAtExit {
    std::shared_ptr<ThreadObject> object;
    ~SignalAtExit() {
        if (object != nullptr) {
            signal(*object);
        }
    }
};

// One lock and one condition for all objects: waits are rare, and a single condition makes
// waiting for several objects at once simple.
struct Kernel {
    std::mutex mutex;
    std::condition_variable signalledChanged;
    std::unordered_map<std::uintptr_t, std::shared_ptr<ThreadObject>> handles;
    std::uintptr_t nextHandle = 4; // handle values are multiples of 4, as on Windows
    DWORD nextThreadId = 4;
};

// Never destroyed: a thread whose handle was closed may still be signalling while the process
// runs its static destructors.
Kernel& kernel() {
    static Kernel* const instance = new Kernel;
    return *instance;
}

std::shared_ptr<ThreadObject> findObject(Kernel& k, HANDLE handle) {
    const auto found = k.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == k.handles.end() ? nullptr : found->second;
}

using WaitList = std::array<std::shared_ptr<ThreadObject>, MAXIMUM_WAIT_OBJECTS>;

// WAIT_OBJECT_0 (plus the index, when waiting for any) once the wait is satisfied.
std::optional<DWORD> waitResult(const WaitList& objects, DWORD count, bool waitAll) {
    const auto signalled = [](const std::shared_ptr<ThreadObject>& o) { return o->signalled; };
    const auto end = objects.begin() + count;
    if (waitAll) {
        return std::all_of(objects.begin(), end, signalled) ? std::optional(WAIT_OBJECT_0)
                                                            : std::nullopt;
    }
    const auto first = std::find_if(objects.begin(), end, signalled);
    return first != end ? std::optional(WAIT_OBJECT_0 + DWORD(first - objects.begin()))
                        : std::nullopt;
}

void signal(ThreadObject& object) {
    Kernel& k = kernel();
    const std::lock_guard lock(k.mutex);
    object.signalled = true;
    k.signalledChanged.notify_all();
}

std::recursive_mutex& sectionLock(LPCRITICAL_SECTION section) {
    return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->storage));
}

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::storage));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE startRoutine,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    if (startRoutine == nullptr || creationFlags != 0) {
        return nullptr;
    }
    Kernel& k = kernel();
    std::shared_ptr<ThreadObject> object;
    std::uintptr_t handle = 0;
    DWORD id = 0;
    try {
        object = std::make_shared<ThreadObject>();
        // The handle is entered first so that a thread, once started, always has one.
        const std::lock_guard lock(k.mutex);
        handle = k.nextHandle;
        k.handles.emplace(handle, object);
        k.nextHandle += 4;
        id = k.nextThreadId;
        k.nextThreadId += 4;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    try {
        std::thread thread([object, startRoutine, parameter] {
            thread_local SignalAtExit signalAtExit;
            signalAtExit.object = object;
            startRoutine(parameter);
        });
        const std::lock_guard lock(k.mutex);
        object->thread = std::move(thread);
    } catch (const std::exception&) { // std::system_error or std::bad_alloc
        const std::lock_guard lock(k.mutex);
        k.handles.erase(handle);
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = id;
    }
    return reinterpret_cast<HANDLE>(handle);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        return WAIT_FAILED;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    Kernel& k = kernel();
    std::unique_lock lock(k.mutex);
    // The objects are held for the whole wait, so closing a handle meanwhile is harmless.
    WaitList objects;
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = findObject(k, handles[i]);
        if (objects[i] == nullptr) {
            return WAIT_FAILED;
        }
    }
    std::optional<DWORD> result;
    const auto done = [&] {
        result = waitResult(objects, count, waitAll != FALSE);
        return result.has_value();
    };
    if (milliseconds == INFINITE) {
        k.signalledChanged.wait(lock, done);
    } else if (!k.signalledChanged.wait_until(lock, deadline, done)) {
        return WAIT_TIMEOUT;
    }
    return *result;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, TRUE, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
    Kernel& k = kernel();
    std::thread finished;
    {
        const std::lock_guard lock(k.mutex);
        const auto found = k.handles.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == k.handles.end()) return FALSE;
        ThreadObject& object = *found->second;
        if (object.signalled) {
            finished = std::move(object.thread);
        } else if (object.thread.joinable()) {
            object.thread.detach();
        }
        k.handles.erase(found);
    }
    // Past its signal the thread only finishes its exit.
    if (finished.joinable()) finished.join();
    return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    new (section->storage) std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    sectionLock(section).lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    sectionLock(section).unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    sectionLock(section).~recursive_mutex();
}
