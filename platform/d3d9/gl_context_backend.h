// Where a context pool's GL contexts come from: surfaceless EGL contexts (headless) or GLFW
// windows (the window's own context and hidden windows sharing it). The pool (gl_context.h)
// hands contexts to threads and orders their work; a backend only makes, lends and switches
// them. Only the pool's files include this header.
#pragma once

#include "gl_context.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct GLFWwindow;

namespace d3d9gl {

// The pool calls a backend under its mutex, or alone at its end; releaseCurrent, ownContext
// and window read nothing that changes and may be called without it.
class ContextBackend {
  public:
    virtual ~ContextBackend() = default;

    // The contexts made so far, by index, all in one share group.
    virtual std::size_t size() const = 0;
    // Adds a context to the share group; false when the backend cannot add one now, and then
    // a thread that wants a context waits for one to be given back.
    virtual bool add() = 0;
    // The context that belongs to the calling thread for good (the window's own context on the
    // thread that made the window), or -1. It is never lent, nor released when given back.
    virtual int ownContext() const = 0;
    // Whether a thread without a context of its own may take context `index`.
    virtual bool lendable(std::size_t index) const = 0;

    virtual void makeCurrent(std::size_t index) = 0;
    virtual void releaseCurrent() = 0;
    // Whether the calling thread may make context 0 current when the pool goes away, to delete
    // what is still shared.
    virtual bool reachableAtEnd() const = 0;
    // Ends the lendable contexts not taken (taken[i] for context i) at once, where the backend
    // must do that on the calling thread (hidden windows, on the main thread).
    virtual void shutdown(const std::vector<bool>& taken) = 0;

    // The window of a windowed backend, else nullptr.
    virtual GLFWwindow* window() const = 0;
};

// nullptr and *failure when no EGL display offers surfaceless OpenGL 4.5 core contexts.
std::unique_ptr<ContextBackend> makeEglBackend(std::string* failure);
// The window's context, current on the calling thread, plus `hiddenContexts` hidden windows
// sharing it; nullptr and *failure when the window's context is older than OpenGL 4.5 or a
// hidden window cannot be made.
std::unique_ptr<ContextBackend> makeGlfwBackend(GLFWwindow* window, int hiddenContexts,
                                                std::string* failure);

} // namespace d3d9gl
