// Windowed contexts: the window's own context, which stays with the thread that made the
// window, and hidden windows sharing it, made up front on that thread (GLFW makes and destroys
// windows only on the main thread) and lent to the other threads.
#include "gl_context_backend.h"

#include <GLFW/glfw3.h>

#include <thread>

namespace d3d9gl {

namespace {

class GlfwBackend final : public ContextBackend {
  public:
    explicit GlfwBackend(GLFWwindow* window)
        : windows_{window}, windowThread_(std::this_thread::get_id()) {}

    // Hidden windows sharing the window's context; false when one cannot be made (those made
    // are destroyed again).
    bool addHidden(int count) {
        GLFWwindow* window = windows_.front();
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
        glfwWindowHint(GLFW_CONTEXT_CREATION_API,
                       glfwGetWindowAttrib(window, GLFW_CONTEXT_CREATION_API));
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
        glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
        glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, glDebugMode() == GlDebug::Off ? 0 : 1);
        bool made = true;
        for (int i = 0; i < count && made; ++i) {
            GLFWwindow* hidden = glfwCreateWindow(16, 16, "", nullptr, window);
            made = hidden != nullptr;
            if (made) {
                windows_.push_back(hidden);
            }
        }
        glfwDefaultWindowHints();
        if (!made) {
            shutdown(std::vector<bool>(windows_.size(), false));
        }
        return made;
    }

    std::size_t size() const override { return windows_.size(); }
    bool add() override { return false; } // hidden windows are made on the main thread only
    int ownContext() const override { return onWindowThread() ? 0 : -1; }
    bool lendable(std::size_t index) const override {
        return index != 0 && windows_[index] != nullptr;
    }

    void makeCurrent(std::size_t index) override { glfwMakeContextCurrent(windows_[index]); }
    void releaseCurrent() override { glfwMakeContextCurrent(nullptr); }
    // Off the window's thread the window's context is out of reach: the objects go with it.
    bool reachableAtEnd() const override { return onWindowThread(); }
    void shutdown(const std::vector<bool>& taken) override {
        for (std::size_t i = 1; i < windows_.size(); ++i) {
            if (!taken[i] && windows_[i] != nullptr) {
                glfwDestroyWindow(windows_[i]);
                windows_[i] = nullptr;
            }
        }
    }
    GLFWwindow* window() const override { return windows_.front(); }

  private:
    bool onWindowThread() const { return std::this_thread::get_id() == windowThread_; }

    std::vector<GLFWwindow*> windows_; // [0] the window; guarded by the pool's mutex
    std::thread::id windowThread_;
};

} // namespace

std::unique_ptr<ContextBackend> makeGlfwBackend(GLFWwindow* window, int hiddenContexts,
                                                std::string* failure) {
    if (glfwGetWindowAttrib(window, GLFW_CONTEXT_VERSION_MAJOR) * 10 +
            glfwGetWindowAttrib(window, GLFW_CONTEXT_VERSION_MINOR) <
        45) {
        *failure = "the window's context is older than OpenGL 4.5";
        return nullptr;
    }
    auto backend = std::make_unique<GlfwBackend>(window);
    if (!backend->addHidden(hiddenContexts)) {
        *failure = "could not create a hidden window sharing the window's context";
        return nullptr;
    }
    return backend;
}

} // namespace d3d9gl
