#include "gl_context.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace d3d9gl {

std::uint64_t newObjectId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

namespace {

enum class DebugMode { Off, Report, Abort };

DebugMode debugMode() {
    const char* value = std::getenv("GORVANE_GL_DEBUG");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0) {
        return DebugMode::Off;
    }
    return std::strcmp(value, "abort") == 0 ? DebugMode::Abort : DebugMode::Report;
}

void GLAPIENTRY reportDebugMessage(GLenum, GLenum type, GLuint, GLenum, GLsizei,
                                   const GLchar* message, const void*) {
    std::fprintf(stderr, "GL: %s\n", message);
    if (type == GL_DEBUG_TYPE_ERROR && debugMode() == DebugMode::Abort) {
        std::abort();
    }
}

// The contexts the calling thread holds, one per pool, given back when the thread ends.
struct ThreadContexts {
    // User-provided, so that each thread's object is made at its first use (dynamic
    // initialisation) rather than when the thread starts: C++ destroys a thread's objects in
    // the reverse order of their making, so thread-local objects made before the thread's
    // first device call (a thread library's end-of-thread signal) go after the contexts are back.
    ThreadContexts() {}

    struct Entry {
        std::shared_ptr<ContextPool> pool;
        int slot;
    };
    std::vector<Entry> entries;
    const void* current = nullptr; // the pool slot whose context is current on this thread

    ~ThreadContexts() {
        while (!entries.empty()) {
            Entry entry = std::move(entries.back());
            entries.pop_back();
            entry.pool->giveBack(entry.slot);
        }
    }
};

ThreadContexts& threadContexts() {
    thread_local ThreadContexts contexts;
    return contexts;
}

// The process's headless EGL display, initialised once and kept until exit (several devices,
// one after the other or at once, share it).
struct EglSetup {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    std::string failure;
};

bool initialiseDisplay(EGLDisplay display, EglSetup& setup) {
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        return false;
    }
    if (!epoxy_has_egl_extension(display, "EGL_KHR_surfaceless_context") ||
        !epoxy_has_egl_extension(display, "EGL_KHR_create_context")) {
        return false;
    }
    if (epoxy_has_egl_extension(display, "EGL_KHR_no_config_context")) {
        setup.config = EGL_NO_CONFIG_KHR;
    } else {
        const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display, wanted, &setup.config, 1, &count) || count < 1) {
            return false;
        }
    }
    setup.display = display;
    return true;
}

EglSetup makeEglSetup() {
    EglSetup setup;
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_device") &&
        epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_device_enumeration")) {
        EGLint count = 0;
        eglQueryDevicesEXT(0, nullptr, &count);
        std::vector<EGLDeviceEXT> devices(static_cast<std::size_t>(count));
        if (count > 0 && eglQueryDevicesEXT(count, devices.data(), &count)) {
            for (EGLDeviceEXT device : devices) {
                const char* extensions = eglQueryDeviceStringEXT(device, EGL_EXTENSIONS);
                if (extensions != nullptr && std::strstr(extensions, "EGL_MESA_device_software")) {
                    continue; // a software device: the surfaceless platform below is the same
                }
                EGLDisplay display =
                    eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
                if (initialiseDisplay(display, setup)) {
                    return setup;
                }
            }
        }
    }
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display =
            eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (initialiseDisplay(display, setup)) {
            return setup;
        }
    }
    setup.failure = "no EGL display with surfaceless OpenGL contexts";
    return setup;
}

const EglSetup& eglSetup() {
    static const EglSetup setup = makeEglSetup();
    return setup;
}

EGLContext createEglContext(const EglSetup& setup, EGLContext share) {
    eglBindAPI(EGL_OPENGL_API);
    const EGLint attributes[] = {
        EGL_CONTEXT_MAJOR_VERSION_KHR,
        4,
        EGL_CONTEXT_MINOR_VERSION_KHR,
        5,
        EGL_CONTEXT_OPENGL_PROFILE_MASK_KHR,
        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT_KHR,
        EGL_CONTEXT_FLAGS_KHR,
        debugMode() == DebugMode::Off ? 0 : EGL_CONTEXT_OPENGL_DEBUG_BIT_KHR,
        EGL_NONE,
    };
    return eglCreateContext(setup.display, setup.config, share, attributes);
}

void waitForFence(GLsync fence) {
    for (;;) {
        const GLenum result = glClientWaitSync(fence, 0, 1'000'000'000);
        if (result != GL_TIMEOUT_EXPIRED) {
            return;
        }
    }
}

} // namespace

std::shared_ptr<ContextPool> ContextPool::createHeadless(std::string* failure) {
    const EglSetup& setup = eglSetup();
    if (setup.display == EGL_NO_DISPLAY) {
        *failure = setup.failure;
        return nullptr;
    }
    std::shared_ptr<ContextPool> pool(new ContextPool());
    pool->display_ = setup.display;
    auto first = std::make_unique<Slot>();
    first->eglContext = createEglContext(setup, EGL_NO_CONTEXT);
    if (first->eglContext == EGL_NO_CONTEXT) {
        *failure = "eglCreateContext failed for OpenGL 4.5 core";
        return nullptr;
    }
    pool->slots_.push_back(std::move(first));
    return pool;
}

std::shared_ptr<ContextPool> ContextPool::createWindowed(GLFWwindow* window, int hiddenContexts,
                                                         std::string* failure) {
    if (glfwGetWindowAttrib(window, GLFW_CONTEXT_VERSION_MAJOR) * 10 +
            glfwGetWindowAttrib(window, GLFW_CONTEXT_VERSION_MINOR) <
        45) {
        *failure = "the window's context is older than OpenGL 4.5";
        return nullptr;
    }
    std::shared_ptr<ContextPool> pool(new ContextPool());
    pool->window_ = window;
    pool->windowThread_ = std::this_thread::get_id();
    auto own = std::make_unique<Slot>();
    own->glfwWindow = window;
    pool->slots_.push_back(std::move(own));

    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_CONTEXT_CREATION_API,
                   glfwGetWindowAttrib(window, GLFW_CONTEXT_CREATION_API));
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, debugMode() == DebugMode::Off ? 0 : 1);
    for (int i = 0; i < hiddenContexts; ++i) {
        auto hidden = std::make_unique<Slot>();
        hidden->glfwWindow = glfwCreateWindow(16, 16, "", nullptr, window);
        if (hidden->glfwWindow == nullptr) {
            *failure = "could not create a hidden window sharing the window's context";
            glfwDefaultWindowHints();
            pool->shutdown();
            return nullptr;
        }
        pool->slots_.push_back(std::move(hidden));
    }
    glfwDefaultWindowHints();
    return pool;
}

ContextPool::~ContextPool() {
    // No thread holds a context any more; delete what is shared with one of them current (off
    // the window's thread the window's context is out of reach: the objects go with it).
    Slot* any = nullptr;
    if (!slots_.empty() && (window_ == nullptr || isWindowThread())) {
        any = slots_.front().get();
    }
    if (any != nullptr) {
        makeCurrent(*any);
        for (const Deletion& deletion : deletions_) {
            deleteNow(deletion.kind, deletion.name);
        }
        for (auto& slot : slots_) {
            if (slot->fence != nullptr) {
                glDeleteSync(slot->fence);
            }
        }
        if (window_ == nullptr) {
            releaseCurrent();
        }
    }
    if (window_ == nullptr) {
        for (auto& slot : slots_) {
            eglDestroyContext(display_, slot->eglContext);
        }
    }
    ThreadContexts& thread = threadContexts();
    for (auto& slot : slots_) {
        if (thread.current == slot.get()) {
            thread.current = nullptr;
        }
    }
}

void ContextPool::shutdown() {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 1; i < slots_.size() && window_ != nullptr; ++i) {
        Slot& slot = *slots_[i];
        if (!slot.taken && slot.glfwWindow != nullptr) {
            glfwDestroyWindow(slot.glfwWindow);
            slot.glfwWindow = nullptr;
        }
    }
}

bool ContextPool::isWindowThread() const {
    return window_ != nullptr && std::this_thread::get_id() == windowThread_;
}

int ContextPool::thisThreadSlot() const {
    for (const auto& entry : threadContexts().entries) {
        if (entry.pool.get() == this) {
            return entry.slot;
        }
    }
    return -1;
}

int ContextPool::takeSlot(std::unique_lock<std::mutex>& lock) {
    if (isWindowThread()) {
        slots_.front()->taken = true;
        return 0;
    }
    for (;;) {
        for (std::size_t i = window_ == nullptr ? 0 : 1; i < slots_.size(); ++i) {
            if (!slots_[i]->taken && (window_ == nullptr || slots_[i]->glfwWindow != nullptr)) {
                slots_[i]->taken = true;
                return static_cast<int>(i);
            }
        }
        if (window_ == nullptr) {
            auto slot = std::make_unique<Slot>();
            slot->eglContext = createEglContext(eglSetup(), slots_.front()->eglContext);
            if (slot->eglContext == EGL_NO_CONTEXT) {
                std::fprintf(stderr, "d3d9gl: eglCreateContext failed (0x%x)\n", eglGetError());
                std::abort();
            }
            slot->taken = true;
            slots_.push_back(std::move(slot));
            return static_cast<int>(slots_.size() - 1);
        }
        // Every hidden window's context is held by a running thread: wait for one to end.
        slotFreed_.wait(lock);
    }
}

void ContextPool::makeCurrent(Slot& slot) {
    if (slot.glfwWindow != nullptr) {
        glfwMakeContextCurrent(slot.glfwWindow);
    } else if (!eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, slot.eglContext)) {
        std::fprintf(stderr, "d3d9gl: eglMakeCurrent failed (0x%x)\n", eglGetError());
        std::abort();
    }
    threadContexts().current = &slot;
}

void ContextPool::releaseCurrent() {
    if (window_ != nullptr) {
        glfwMakeContextCurrent(nullptr);
    } else {
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    threadContexts().current = nullptr;
}

void ContextPool::initialiseContext(Slot& slot) {
    if (debugMode() != DebugMode::Off) {
        glEnable(GL_DEBUG_OUTPUT);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
        glDebugMessageCallback(reportDebugMessage, nullptr);
        // Notes on shader variants and the like are not faults.
        glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DEBUG_SEVERITY_NOTIFICATION, 0,
                              nullptr, GL_FALSE);
        glDebugMessageControl(GL_DONT_CARE, GL_DEBUG_TYPE_PERFORMANCE, GL_DONT_CARE, 0, nullptr,
                              GL_FALSE);
        glDebugMessageControl(GL_DONT_CARE, GL_DEBUG_TYPE_OTHER, GL_DONT_CARE, 0, nullptr,
                              GL_FALSE);
    }
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    glCreateFramebuffers(1, &slot.state.framebuffer);
    glCreateVertexArrays(1, &slot.state.vertexArray);
    slot.initialised = true;
}

ContextState& ContextPool::bind() {
    ThreadContexts& thread = threadContexts();
    int index = thisThreadSlot();
    std::unique_lock lock(mutex_);
    if (index < 0) {
        index = takeSlot(lock);
        thread.entries.push_back({shared_from_this(), index});
    }
    Slot& slot = *slots_[static_cast<std::size_t>(index)];
    if (thread.current != &slot) {
        makeCurrent(slot);
    }
    if (!slot.initialised) {
        initialiseContext(slot);
    }
    slot.seen.resize(slots_.size(), 0);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const Slot& other = *slots_[i];
        if (&other != &slot && other.fenceSerial > slot.seen[i]) {
            waitForFence(other.fence);
            slot.seen[i] = other.fenceSerial;
        }
    }
    deleteQueued();
    return slot.state;
}

void ContextPool::deleteQueued() {
    const auto published = [this](const Deletion& deletion) {
        return std::all_of(deletion.after.begin(), deletion.after.end(), [this](auto after) {
            return slots_[after.first]->fenceSerial > after.second;
        });
    };
    const auto kept = std::partition(deletions_.begin(), deletions_.end(),
                                     [&](const Deletion& d) { return !published(d); });
    for (auto it = kept; it != deletions_.end(); ++it) {
        deleteNow(it->kind, it->name);
    }
    deletions_.erase(kept, deletions_.end());
}

void ContextPool::publishSlot(Slot& slot) {
    GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glFlush();
    std::lock_guard lock(mutex_);
    if (slot.fence != nullptr) {
        glDeleteSync(slot.fence);
    }
    slot.fence = fence;
    slot.fenceSerial = nextFenceSerial_++;
    slot.writes.clear();
    slot.reads.clear();
}

void ContextPool::publish() {
    const int index = thisThreadSlot();
    Slot* slot = nullptr;
    {
        std::lock_guard lock(mutex_);
        slot = slots_[static_cast<std::size_t>(index)].get();
    }
    publishSlot(*slot);
}

void ContextPool::noteWrite(std::uint64_t id) {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    std::vector<std::uint64_t>& writes = slots_[static_cast<std::size_t>(index)]->writes;
    if (std::find(writes.begin(), writes.end(), id) == writes.end()) {
        writes.push_back(id);
    }
}

void ContextPool::endBatch() {
    const int index = thisThreadSlot();
    if (index < 0) {
        return; // this thread never did GL work with the device
    }
    {
        std::lock_guard lock(mutex_);
        if (slots_[static_cast<std::size_t>(index)]->writes.empty()) {
            return;
        }
    }
    bind();
    publish();
}

bool ContextPool::writtenByAnother(std::uint64_t id) const {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::vector<std::uint64_t>& writes = slots_[i]->writes;
        if (static_cast<int>(i) != index &&
            std::find(writes.begin(), writes.end(), id) != writes.end()) {
            return true;
        }
    }
    return false;
}

void ContextPool::noteReads(const std::uint64_t* ids, std::size_t count) {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    std::vector<std::uint64_t>& reads = slots_[static_cast<std::size_t>(index)]->reads;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::find(reads.begin(), reads.end(), ids[i]) == reads.end()) {
            reads.push_back(ids[i]);
        }
    }
}

bool ContextPool::readByAnother(std::uint64_t id) const {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::vector<std::uint64_t>& reads = slots_[i]->reads;
        if (static_cast<int>(i) != index &&
            std::find(reads.begin(), reads.end(), id) != reads.end()) {
            return true;
        }
    }
    return false;
}

void ContextPool::retireTexture(GLuint name, std::uint64_t id) {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    Deletion deletion{ObjectKind::Texture, name, {}};
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::vector<std::uint64_t>& reads = slots_[i]->reads;
        if (static_cast<int>(i) != index &&
            std::find(reads.begin(), reads.end(), id) != reads.end()) {
            deletion.after.emplace_back(i, slots_[i]->fenceSerial);
        }
    }
    deletions_.push_back(std::move(deletion));
}

bool ContextPool::currentOnThisThread() const {
    const int index = thisThreadSlot();
    return index >= 0 && threadContexts().current == slots_[static_cast<std::size_t>(index)].get();
}

void ContextPool::deleteNow(ObjectKind kind, GLuint name) {
    switch (kind) {
    case ObjectKind::Texture:
        glDeleteTextures(1, &name);
        break;
    case ObjectKind::Buffer:
        glDeleteBuffers(1, &name);
        break;
    }
}

void ContextPool::deleteObject(ObjectKind kind, GLuint name) {
    std::unique_lock lock(mutex_);
    if (currentOnThisThread()) {
        lock.unlock();
        deleteNow(kind, name);
    } else {
        deletions_.push_back(Deletion{kind, name, {}});
    }
}

void ContextPool::giveBack(int slotIndex) {
    Slot* slot = nullptr;
    {
        std::lock_guard lock(mutex_);
        slot = slots_[static_cast<std::size_t>(slotIndex)].get();
    }
    // The window's context stays with the window's thread, and at that thread's exit the
    // window may be gone; every device call has published already.
    if (slot->glfwWindow != window_ || window_ == nullptr) {
        if (threadContexts().current != slot) {
            makeCurrent(*slot);
        }
        publishSlot(*slot);
        releaseCurrent();
    }
    std::lock_guard lock(mutex_);
    slot->taken = false;
    slotFreed_.notify_all();
}

void ContextPool::giveBackThisThread() {
    auto& entries = threadContexts().entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->pool.get() == this) {
            const int slot = it->slot;
            entries.erase(it); // the caller holds the pool, so this is not the last reference
            giveBack(slot);
            return;
        }
    }
}

} // namespace d3d9gl
