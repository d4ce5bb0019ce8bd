#include "gl_context.h"

#include "gl_context_backend.h"

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

GlDebug glDebugMode() {
    const char* value = std::getenv("GORVANE_GL_DEBUG");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0) {
        return GlDebug::Off;
    }
    return std::strcmp(value, "abort") == 0 ? GlDebug::Abort : GlDebug::Report;
}

namespace {

void GLAPIENTRY reportDebugMessage(GLenum, GLenum type, GLuint, GLenum, GLsizei,
                                   const GLchar* message, const void*) {
    std::fprintf(stderr, "GL: %s\n", message);
    if (type == GL_DEBUG_TYPE_ERROR && glDebugMode() == GlDebug::Abort) {
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
    return create(makeEglBackend(failure));
}

std::shared_ptr<ContextPool> ContextPool::createWindowed(GLFWwindow* window, int hiddenContexts,
                                                         std::string* failure) {
    return create(makeGlfwBackend(window, hiddenContexts, failure));
}

std::shared_ptr<ContextPool> ContextPool::create(std::unique_ptr<ContextBackend> backend) {
    if (backend == nullptr) {
        return nullptr;
    }
    std::shared_ptr<ContextPool> pool(new ContextPool());
    pool->backend_ = std::move(backend);
    pool->addSlots();
    return pool;
}

void ContextPool::addSlots() {
    while (slots_.size() < backend_->size()) {
        slots_.push_back(std::make_unique<Slot>());
        slots_.back()->index = slots_.size() - 1;
    }
}

ContextPool::~ContextPool() {
    // No thread holds a context any more; delete what is shared with one of them current.
    if (backend_->reachableAtEnd()) {
        makeCurrent(*slots_.front());
        for (const Deletion& deletion : deletions_) {
            deleteNow(deletion.kind, deletion.name);
        }
        for (const GLuint program : programsKeptToEnd_) {
            glDeleteProgram(program);
        }
        for (auto& slot : slots_) {
            if (slot->fence != nullptr) {
                glDeleteSync(slot->fence);
            }
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
    std::vector<bool> taken;
    for (const auto& slot : slots_) {
        taken.push_back(slot->taken);
    }
    backend_->shutdown(taken);
}

GLFWwindow* ContextPool::window() const {
    return backend_->window();
}

bool ContextPool::isWindowThread() const {
    return backend_->window() != nullptr && backend_->ownContext() >= 0;
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
    if (const int own = backend_->ownContext(); own >= 0) {
        slots_[static_cast<std::size_t>(own)]->taken = true;
        return own;
    }
    for (;;) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (!slots_[i]->taken && backend_->lendable(i)) {
                slots_[i]->taken = true;
                return static_cast<int>(i);
            }
        }
        if (backend_->add()) {
            addSlots();
            slots_.back()->taken = true;
            return static_cast<int>(slots_.size() - 1);
        }
        // Every lendable context is held by a running thread: wait for one to end.
        slotFreed_.wait(lock);
    }
}

void ContextPool::makeCurrent(Slot& slot) {
    backend_->makeCurrent(slot.index);
    threadContexts().current = &slot;
}

void ContextPool::releaseCurrent() {
    backend_->releaseCurrent();
    threadContexts().current = nullptr;
}

void ContextPool::initialiseContext(Slot& slot) {
    if (glDebugMode() != GlDebug::Off) {
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
            slot.state.texturesCurrent = false;
        }
    }
    deleteQueued();
    if (!slot.retiredQueries.empty()) {
        glDeleteQueries(static_cast<GLsizei>(slot.retiredQueries.size()),
                        slot.retiredQueries.data());
        slot.retiredQueries.clear();
    }
    return slot.state;
}

void ContextPool::deleteQuery(int slotIndex, GLuint name) {
    std::lock_guard lock(mutex_);
    if (slotIndex == thisThreadSlot() && currentOnThisThread())
        glDeleteQueries(1, &name);
    else
        slots_[static_cast<std::size_t>(slotIndex)]->retiredQueries.push_back(name);
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

namespace {

// Calls `each(i)` for every slot i other than `self` whose open batch's `list` (its reads or
// its writes) holds `id`. The caller holds the pool's mutex.
template <class Slots, class List, class Each>
void forOtherSlotsHolding(const Slots& slots, int self, List list, std::uint64_t id, Each each) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const std::vector<std::uint64_t>& ids = (*slots[i]).*list;
        if (static_cast<int>(i) != self && std::find(ids.begin(), ids.end(), id) != ids.end()) {
            each(i);
        }
    }
}

} // namespace

bool ContextPool::writtenByAnother(std::uint64_t id) const {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    bool written = false;
    forOtherSlotsHolding(slots_, index, &Slot::writes, id, [&](std::size_t) { written = true; });
    return written;
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
    bool read = false;
    forOtherSlotsHolding(slots_, index, &Slot::reads, id, [&](std::size_t) { read = true; });
    return read;
}

void ContextPool::retireTexture(GLuint name, std::uint64_t id) {
    const int index = thisThreadSlot();
    std::lock_guard lock(mutex_);
    Deletion deletion{ObjectKind::Texture, name, {}};
    forOtherSlotsHolding(slots_, index, &Slot::reads, id, [&](std::size_t i) {
        deletion.after.emplace_back(i, slots_[i]->fenceSerial);
    });
    deletions_.push_back(std::move(deletion));
}

void ContextPool::noteProgramUse(GLuint name) {
    if (name == 0) {
        return;
    }
    const auto slot = static_cast<std::size_t>(thisThreadSlot());
    std::lock_guard lock(mutex_);
    std::vector<std::size_t>& users = programUsers_[name];
    if (std::find(users.begin(), users.end(), slot) == users.end()) {
        users.push_back(slot);
    }
}

void ContextPool::deleteProgram(GLuint name) {
    const int self = thisThreadSlot();
    std::unique_lock lock(mutex_);
    const auto found = programUsers_.find(name);
    bool usedElsewhere = false;
    if (found != programUsers_.end()) {
        usedElsewhere =
            std::any_of(found->second.begin(), found->second.end(),
                        [&](std::size_t slot) { return static_cast<int>(slot) != self; });
        programUsers_.erase(found);
    }
    if (usedElsewhere) {
        programsKeptToEnd_.push_back(name); // its name stays taken, so no new program reuses it
        return;
    }
    lock.unlock();
    glDeleteProgram(name);
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
        // A thread's own context stays with it, and at that thread's exit its window may be
        // gone; every device call has published already.
        if (backend_->ownContext() == slotIndex) {
            slot->taken = false;
            return;
        }
        if (threadContexts().current != slot) {
            makeCurrent(*slot);
        }
    }
    publishSlot(*slot);
    releaseCurrent();
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
