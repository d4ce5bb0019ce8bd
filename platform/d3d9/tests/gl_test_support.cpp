#include "gl_test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
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

GLuint compileStage(GLenum stage, const std::string& source, std::string* log) {
    const std::string text = "#version 450 core\n" + source;
    const char* pointer = text.c_str();
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &pointer, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        char buffer[4096] = {};
        glGetShaderInfoLog(shader, sizeof buffer, nullptr, buffer);
        if (log != nullptr) {
            *log += buffer;
        }
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
        GLint ok = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (ok != GL_TRUE) {
            char buffer[4096] = {};
            glGetProgramInfoLog(program, sizeof buffer, nullptr, buffer);
            if (log != nullptr) {
                *log += buffer;
            }
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

std::uint16_t floatToHalf(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const std::uint32_t exponent = (bits >> 23) & 0xFFu;
    std::uint32_t mantissa = bits & 0x7FFFFFu;
    if (exponent == 0xFF) { // infinity or NaN
        return static_cast<std::uint16_t>(sign | 0x7C00u | (mantissa != 0 ? 0x200u : 0u));
    }
    const int halfExponent = static_cast<int>(exponent) - 127 + 15;
    if (halfExponent >= 31) {
        return static_cast<std::uint16_t>(sign | 0x7C00u);
    }
    if (halfExponent <= 0) { // subnormal half, or zero
        if (halfExponent < -10) {
            return sign;
        }
        mantissa |= 0x800000u;
        const int shift = 14 - halfExponent;
        std::uint32_t half = mantissa >> shift;
        const std::uint32_t rest = mantissa & ((1u << shift) - 1);
        const std::uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (half & 1u) != 0)) {
            ++half;
        }
        return static_cast<std::uint16_t>(sign | half);
    }
    std::uint32_t half = (static_cast<std::uint32_t>(halfExponent) << 10) | (mantissa >> 13);
    const std::uint32_t rest = mantissa & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (half & 1u) != 0)) {
        ++half; // may carry into the exponent, which rounds up to infinity correctly
    }
    return static_cast<std::uint16_t>(sign | half);
}

float halfToFloat(std::uint16_t half) {
    const std::uint32_t sign = (half & 0x8000u) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1Fu;
    std::uint32_t mantissa = half & 0x3FFu;
    std::uint32_t bits = 0;
    if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else { // subnormal: normalise
            int shift = 0;
            while ((mantissa & 0x400u) == 0) {
                mantissa <<= 1;
                ++shift;
            }
            mantissa &= 0x3FFu;
            bits =
                sign | (static_cast<std::uint32_t>(127 - 15 + 1 - shift) << 23) | (mantissa << 13);
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else {
        bits = sign | ((exponent - 15 + 127) << 23) | (mantissa << 13);
    }
    return std::bit_cast<float>(bits);
}

} // namespace d3d9gl::test
