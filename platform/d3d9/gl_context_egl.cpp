// Headless contexts: surfaceless EGL contexts on the EGL device platform when a hardware GPU
// device is present, else on Mesa's surfaceless platform. Grown on demand.
#include "gl_context_backend.h"

#include <epoxy/egl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace d3d9gl {

namespace {

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
        glDebugMode() == GlDebug::Off ? 0 : EGL_CONTEXT_OPENGL_DEBUG_BIT_KHR,
        EGL_NONE,
    };
    return eglCreateContext(setup.display, setup.config, share, attributes);
}

class EglBackend final : public ContextBackend {
  public:
    explicit EglBackend(EGLContext first) { contexts_.push_back(first); }
    ~EglBackend() override {
        const EGLDisplay display = eglSetup().display;
        for (EGLContext context : contexts_) {
            if (eglGetCurrentContext() == context) {
                releaseCurrent();
            }
            eglDestroyContext(display, context);
        }
    }

    std::size_t size() const override { return contexts_.size(); }
    bool add() override {
        const EGLContext context = createEglContext(eglSetup(), contexts_.front());
        if (context == EGL_NO_CONTEXT) {
            std::fprintf(stderr, "d3d9gl: eglCreateContext failed (0x%x)\n", eglGetError());
            std::abort();
        }
        contexts_.push_back(context);
        return true;
    }
    int ownContext() const override { return -1; }
    bool lendable(std::size_t) const override { return true; }

    void makeCurrent(std::size_t index) override {
        if (!eglMakeCurrent(eglSetup().display, EGL_NO_SURFACE, EGL_NO_SURFACE, contexts_[index])) {
            std::fprintf(stderr, "d3d9gl: eglMakeCurrent failed (0x%x)\n", eglGetError());
            std::abort();
        }
    }
    void releaseCurrent() override {
        eglMakeCurrent(eglSetup().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    bool reachableAtEnd() const override { return true; }
    void shutdown(const std::vector<bool>&) override {} // contexts go with the backend
    GLFWwindow* window() const override { return nullptr; }

  private:
    std::vector<EGLContext> contexts_; // guarded by the pool's mutex
};

} // namespace

std::unique_ptr<ContextBackend> makeEglBackend(std::string* failure) {
    const EglSetup& setup = eglSetup();
    if (setup.display == EGL_NO_DISPLAY) {
        *failure = setup.failure;
        return nullptr;
    }
    const EGLContext first = createEglContext(setup, EGL_NO_CONTEXT);
    if (first == EGL_NO_CONTEXT) {
        *failure = "eglCreateContext failed for OpenGL 4.5 core";
        return nullptr;
    }
    return std::make_unique<EglBackend>(first);
}

} // namespace d3d9gl
