// The share group of a device: a pool of GL contexts, one per thread that uses the device,
// with the fences through which the contexts publish their work to each other and the queue of
// shared GL objects waiting for a thread with a context to delete them. See gl_device.h. The
// contexts themselves come from a backend (gl_context_backend.h): EGL (gl_context_egl.cpp) or
// GLFW (gl_context_glfw.cpp).
#pragma once

#include "d3d9.h"

#include <epoxy/gl.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

struct GLFWwindow;

namespace d3d9gl {

// GORVANE_GL_DEBUG (see gl_device.h): off, report GL messages, or report and abort on errors.
enum class GlDebug { Off, Report, Abort };
GlDebug glDebugMode();

class ContextBackend;

// The objects a context owns itself (framebuffer, vertex array, samplers are not shared) and
// what the device last applied to them. Keys are object ids (see newObjectId), never GL names,
// which are reused after deletion.
struct ContextState {
    GLuint framebuffer = 0;
    GLuint vertexArray = 0;
    std::uint64_t colorAttachmentId = 0;
    GLint colorAttachmentLevel = -1;
    std::uint64_t depthAttachmentId = 0;
    bool framebufferComplete = false;

    std::uint64_t declarationId = 0;
    GLuint enabledAttributes = 0; // bit per location
    struct StreamBinding {
        std::uint64_t bufferId = 0;
        UINT offset = 0;
        UINT stride = 0;
    };
    static constexpr int kStreams = 16;
    StreamBinding streams[kStreams];
    std::uint64_t indexBufferId = 0;

    // The texture (object id, 0 for none) the device's last draw bound on each unit, trusted
    // while texturesCurrent holds. Re-binding an unchanged texture is not free: in a share
    // group Mesa revalidates every sampler of the draw then. Cleared when the context waited
    // for another context's work (GL makes another context's changes visible at a re-bind)
    // and when another layer draws with its own GL state (bindBackBufferForDrawing).
    static constexpr int kTextureUnits = 16;
    std::uint64_t textureIds[kTextureUnits] = {};
    bool texturesCurrent = false;

    // Sampler objects by (address u, v, w, mag, min, mip filter).
    std::map<std::tuple<DWORD, DWORD, DWORD, DWORD, DWORD, DWORD>, GLuint> samplers;
};

// A process-wide unique id for a GL object, so that caches never confuse a deleted object with
// a new one that got the same name.
std::uint64_t newObjectId();

class ContextPool : public std::enable_shared_from_this<ContextPool> {
  public:
    // Surfaceless EGL contexts: the EGL device platform on a hardware device when one is
    // present, else Mesa's surfaceless platform. nullptr and *failure on failure.
    static std::shared_ptr<ContextPool> createHeadless(std::string* failure);
    // The window's context (current on the calling thread, which keeps it) plus hidden windows
    // sharing it for other threads.
    static std::shared_ptr<ContextPool> createWindowed(GLFWwindow* window, int hiddenContexts,
                                                       std::string* failure);
    ~ContextPool();
    ContextPool(const ContextPool&) = delete;
    ContextPool& operator=(const ContextPool&) = delete;

    // Makes the calling thread's context current, taking one on the thread's first call;
    // deletes queued objects and waits for what other contexts published since this one last
    // waited. Returns the context's own state.
    ContextState& bind();
    // Flushes the calling thread's context (bound) and leaves a fence for the others.
    void publish();
    // The batch of the calling thread's context: the render targets (object ids) it drew into
    // since it last published. endBatch publishes when there are any.
    void noteWrite(std::uint64_t id);
    void endBatch();
    // Whether another context drew into the object and has not published since.
    bool writtenByAnother(std::uint64_t id) const;
    // The textures (object ids) the calling thread's context sampled in its open batch, and
    // whether another context's open batch sampled the object.
    void noteReads(const std::uint64_t* ids, std::size_t count);
    bool readByAnother(std::uint64_t id) const;
    // Deletes a shared object now when the calling thread's context of this pool is current,
    // else queues it for the next bind.
    enum class ObjectKind { Texture, Buffer };
    void deleteObject(ObjectKind kind, GLuint name);
    // Queues a texture's old GL name (object `id`) for deletion once every other context whose
    // open batch sampled it has published, so that the reads queued there are complete first.
    void retireTexture(GLuint name, std::uint64_t id);
    // Programs: the calling thread's context draws with `name` (bound); deleteProgram deletes
    // it now when no other context drew with it, else keeps it until the pool ends (see
    // d3d9gl::deleteProgram in gl_device.h).
    void noteProgramUse(GLuint name);
    void deleteProgram(GLuint name);

    // Timer query objects, which belong to one context: the calling thread's slot (-1 before
    // its first bind), and the deletion of a query of `slotIndex`, now when that is the calling
    // thread's context, else at that context's next bind.
    int currentSlot() const { return thisThreadSlot(); }
    void deleteQuery(int slotIndex, GLuint name);

    GLFWwindow* window() const;
    bool isWindowThread() const;
    // Windowed pools: destroys the hidden windows now (on the main thread, where GLFW wants
    // it). Called when the device goes away.
    void shutdown();

    // Publishes and gives the calling thread's context back to the pool (at thread exit, and
    // for the thread that destroys the device).
    void giveBack(int slotIndex);
    void giveBackThisThread();

  private:
    struct Slot {
        std::size_t index = 0; // of its context in the backend
        bool taken = false;
        bool initialised = false;
        ContextState state;
        GLsync fence = nullptr;            // the last fence this context left
        std::uint64_t fenceSerial = 0;     // increasing over the pool
        std::vector<std::uint64_t> seen;   // serial of each other slot's fence already waited
        std::vector<std::uint64_t> writes; // render targets drawn since the last fence
        std::vector<std::uint64_t> reads;  // textures sampled since the last fence
        std::vector<GLuint> retiredQueries; // this context's queries to delete at its bind
    };
    // A shared object waiting for deletion, and the fence serial each listed slot must pass
    // first (slot index, serial of its fence when the object was queued).
    struct Deletion {
        ObjectKind kind;
        GLuint name;
        std::vector<std::pair<std::size_t, std::uint64_t>> after;
    };

    ContextPool() = default;
    static std::shared_ptr<ContextPool> create(std::unique_ptr<ContextBackend> backend);
    void addSlots(); // one for each context the backend made
    int takeSlot(std::unique_lock<std::mutex>& lock);
    int thisThreadSlot() const;
    void makeCurrent(Slot& slot);
    void releaseCurrent();
    void publishSlot(Slot& slot);
    void initialiseContext(Slot& slot);
    void deleteNow(ObjectKind kind, GLuint name);
    // Deletes the queued objects whose slots have published since; under mutex_, with the
    // calling thread's context current and the fences of the other contexts waited for.
    void deleteQueued();
    bool currentOnThisThread() const;

    mutable std::mutex mutex_;
    std::condition_variable slotFreed_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<Deletion> deletions_;
    std::map<GLuint, std::vector<std::size_t>> programUsers_; // slots that drew with each
    std::vector<GLuint> programsKeptToEnd_;
    std::uint64_t nextFenceSerial_ = 1;

    std::unique_ptr<ContextBackend> backend_;
};

} // namespace d3d9gl
