#include "gl_test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace d3d9gl::test {

Ref<IDirect3DDevice9> makeHeadlessDevice(UINT width, UINT height) {
    setenv("GORVANE_GL_DEBUG", "abort", 0);
    Ref<IDirect3DDevice9> device;
    const HRESULT result = createHeadlessDevice(width, height, device.out());
    EXPECT_EQ(result, S_OK) << "no headless OpenGL 4.5 device";
    return device;
}

namespace {

// Whether `object` reached `status` (compile or link); if not, appends its info log to *log.
bool reached(GLuint object, GLenum status, PFNGLGETSHADERIVPROC getStatus,
             PFNGLGETSHADERINFOLOGPROC getLog, std::string* log) {
    GLint ok = GL_FALSE;
    getStatus(object, status, &ok);
    if (ok == GL_TRUE) {
        return true;
    }
    char buffer[4096] = {};
    getLog(object, sizeof buffer, nullptr, buffer);
    if (log != nullptr) {
        *log += buffer;
    }
    return false;
}

GLuint compileStage(GLenum stage, const std::string& source, std::string* log) {
    const std::string text = "#version 450 core\n" + source;
    const char* pointer = text.c_str();
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &pointer, nullptr);
    glCompileShader(shader);
    if (!reached(shader, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog, log)) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

} // namespace

GLuint compileProgram(IDirect3DDevice9* device, const std::string& vertexSource,
                      const std::string& fragmentSource, std::string* log) {
    bindThreadContext(device);
    const GLuint vertex = compileStage(GL_VERTEX_SHADER, vertexSource, log);
    const GLuint fragment = compileStage(GL_FRAGMENT_SHADER, fragmentSource, log);
    GLuint program = 0;
    if (vertex != 0 && fragment != 0) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        if (!reached(program, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog, log)) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    publishWrites(device);
    return program;
}

void deleteProgram(IDirect3DDevice9* device, GLuint program) {
    bindThreadContext(device);
    glDeleteProgram(program);
}

const char* const kQuadVertexShader = R"(
layout(location = 0) in vec4 position;
layout(location = 2) in vec2 texcoord;
out vec2 uv;
uniform vec2 d3d9_pixelOffset;
void main() {
    uv = texcoord;
    gl_Position = vec4(position.xy, 0.0, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";

const char* const kCopyFragmentShader = R"(
in vec2 uv;
layout(location = 0) out vec4 color;
uniform sampler2D source;
void main() { color = texture(source, uv); }
)";

void targetQuad(UINT width, UINT height, QuadVertex out[4]) {
    const float left = -1.0f - 1.0f / static_cast<float>(width);
    const float right = 1.0f - 1.0f / static_cast<float>(width);
    const float top = 1.0f + 1.0f / static_cast<float>(height);
    const float bottom = -1.0f + 1.0f / static_cast<float>(height);
    out[0] = {left, top, 0, 1, 0, 0};
    out[1] = {right, top, 0, 1, 1, 0};
    out[2] = {left, bottom, 0, 1, 0, 1};
    out[3] = {right, bottom, 0, 1, 1, 1};
}

Ref<IDirect3DVertexDeclaration9> makeQuadDeclaration(IDirect3DDevice9* device) {
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END(),
    };
    Ref<IDirect3DVertexDeclaration9> declaration;
    EXPECT_EQ(device->CreateVertexDeclaration(elements, declaration.out()), S_OK);
    return declaration;
}

Ref<IDirect3DVertexBuffer9> makeVertexBuffer(IDirect3DDevice9* device, const void* data,
                                             UINT bytes) {
    Ref<IDirect3DVertexBuffer9> buffer;
    EXPECT_EQ(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                         buffer.out(), nullptr),
              S_OK);
    void* bits = nullptr;
    if (buffer && SUCCEEDED(buffer->Lock(0, 0, &bits, D3DLOCK_DISCARD))) {
        std::memcpy(bits, data, bytes);
        buffer->Unlock();
    }
    return buffer;
}

Ref<IDirect3DVertexBuffer9> makeTargetQuadBuffer(IDirect3DDevice9* device, UINT width,
                                                 UINT height) {
    QuadVertex quad[4];
    targetQuad(width, height, quad);
    return makeVertexBuffer(device, quad, sizeof quad);
}

void drawQuad(IDirect3DDevice9* device, IDirect3DSurface9* target, IDirect3DVertexBuffer9* quad,
              GLuint program) {
    Ref<IDirect3DSurface9> saved;
    device->GetRenderTarget(0, saved.out());
    device->SetRenderTarget(0, target);
    device->SetStreamSource(0, quad, 0, sizeof(QuadVertex));
    setProgram(device, program);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device->SetRenderTarget(0, saved.get());
}

namespace {

// The Xvfb server this process started, stopped at exit.
struct VirtualDisplay {
    pid_t server = -1;
    ~VirtualDisplay() {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
};

VirtualDisplay virtualDisplay;

} // namespace

bool ensureDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && display[0] != '\0') {
        return true;
    }
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipe[0]);
        const std::string fd = std::to_string(pipe[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipe[1]);
    if (child < 0) {
        close(pipe[0]);
        return false;
    }
    virtualDisplay.server = child;
    // Xvfb writes the display number it took once it accepts clients.
    std::string number;
    pollfd wait{pipe[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 10000) == 1 && read(pipe[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(pipe[0]);
    if (number.empty()) {
        return false;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

} // namespace d3d9gl::test
