// Helpers for GL tests of any module: a headless device, a tiny GLSL program, reference-counted
// handles and the Direct3D quad used by render-to-texture passes.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/gl_device.h"

#include <string>
#include <utility>

namespace d3d9gl::test {

// Owns one reference to a Direct3D object.
template <class T> class Ref {
  public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~Ref() { reset(); }

    void reset(T* object = nullptr) {
        if (object_ != nullptr) {
            object_->Release();
        }
        object_ = object;
    }
    // For the out-parameter of a create or get call; releases what was held.
    T** out() {
        reset();
        return &object_;
    }
    // Gives up ownership without releasing.
    T* release() { return std::exchange(object_, nullptr); }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T* object_ = nullptr;
};

// A headless device with a width x height back buffer. GL errors abort the test program
// (GORVANE_GL_DEBUG=abort unless the environment sets it otherwise). Fails the test (and
// returns null) when no GL 4.5 is available.
Ref<IDirect3DDevice9> makeHeadlessDevice(UINT width = 64, UINT height = 64);

// Compiles and links a program from GLSL 4.50 core sources (without the #version line) on the
// calling thread's context of the device and publishes it to the other contexts. Returns 0
// and fills *log on failure. Vertex stages that draw Direct3D geometry end with
// `gl_Position.xy += d3d9_pixelOffset * gl_Position.w;` and declare
// `uniform vec2 d3d9_pixelOffset;`.
GLuint compileProgram(IDirect3DDevice9* device, const std::string& vertexSource,
                      const std::string& fragmentSource, std::string* log = nullptr);
void deleteProgram(IDirect3DDevice9* device, GLuint program);

// The vertex stage of render-to-texture quads: passes the QuadVertex position and its texture
// coordinate (as `uv`) through, with the pixel-centre correction.
extern const char* const kQuadVertexShader;
// A fragment stage that copies `sampler2D source` at `uv`, which the half-texel shifted quad
// puts on each texel's centre.
extern const char* const kCopyFragmentShader;

// The vertex of render-to-texture quads: clip position (x, y, z, w) and texture coordinate.
struct QuadVertex {
    float x, y, z, w;
    float u, v;
};

// The quad covering a whole width x height target with Direct3D 9's half-texel shift (left and
// up by half a texel), as a 4-vertex triangle strip; z = 0, w = 1.
void targetQuad(UINT width, UINT height, QuadVertex out[4]);

// Position FLOAT4 at 0 and TEXCOORD0 FLOAT2 at 16, stream 0.
Ref<IDirect3DVertexDeclaration9> makeQuadDeclaration(IDirect3DDevice9* device);
// A default-pool vertex buffer holding `bytes` bytes of `data`.
Ref<IDirect3DVertexBuffer9> makeVertexBuffer(IDirect3DDevice9* device, const void* data,
                                             UINT bytes);
// A default-pool vertex buffer holding targetQuad(width, height).
Ref<IDirect3DVertexBuffer9> makeTargetQuadBuffer(IDirect3DDevice9* device, UINT width, UINT height);

// Draws the 4-vertex strip in `quad` (QuadVertex, with the device's current declaration) into
// `target` with `program`, the way a generation pass does: the previous render target is put
// back afterwards. The draw is expected to succeed.
void drawQuad(IDirect3DDevice9* device, IDirect3DSurface9* target, IDirect3DVertexBuffer9* quad,
              GLuint program);

// For windowed tests: when DISPLAY is unset, starts an Xvfb server on a free display, points
// DISPLAY at it and stops it when the process ends. False when there is no display to be had.
bool ensureDisplay();

} // namespace d3d9gl::test
