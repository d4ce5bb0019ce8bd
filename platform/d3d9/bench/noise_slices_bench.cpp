// 64 slices of 64 x 64 rendered into a 4096 x 64 R32F target with an 8-octave 3D gradient
// noise shader, then read back: once through the Direct3D layer (as a generation pass does it)
// and once with plain GL calls doing the same work on the same context.
#include "platform/d3d9/tests/gl_test_support.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using d3d9gl::test::Ref;

constexpr int kSlices = 64;
constexpr UINT kWidth = 4096, kHeight = 64;

const char* const kVertexShader = R"(
layout(location = 0) in vec4 position;
uniform float slice;
uniform vec2 d3d9_pixelOffset;
void main() {
    gl_Position = vec4(position.x + slice / 32.0, position.y, 0.0, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";

const char* const kNoiseShader = R"(
layout(location = 0) out vec4 density;
uniform float slice;

vec3 gradient(vec3 cell) {
    vec3 h = fract(sin(vec3(dot(cell, vec3(127.1, 311.7, 74.7)),
                            dot(cell, vec3(269.5, 183.3, 246.1)),
                            dot(cell, vec3(113.5, 271.9, 124.6)))) * 43758.5453);
    return h * 2.0 - 1.0;
}

float gradientNoise(vec3 p) {
    vec3 i = floor(p);
    vec3 f = fract(p);
    vec3 u = f * f * f * (f * (f * 6.0 - 15.0) + 10.0);
    float n000 = dot(gradient(i + vec3(0, 0, 0)), f - vec3(0, 0, 0));
    float n100 = dot(gradient(i + vec3(1, 0, 0)), f - vec3(1, 0, 0));
    float n010 = dot(gradient(i + vec3(0, 1, 0)), f - vec3(0, 1, 0));
    float n110 = dot(gradient(i + vec3(1, 1, 0)), f - vec3(1, 1, 0));
    float n001 = dot(gradient(i + vec3(0, 0, 1)), f - vec3(0, 0, 1));
    float n101 = dot(gradient(i + vec3(1, 0, 1)), f - vec3(1, 0, 1));
    float n011 = dot(gradient(i + vec3(0, 1, 1)), f - vec3(0, 1, 1));
    float n111 = dot(gradient(i + vec3(1, 1, 1)), f - vec3(1, 1, 1));
    return mix(mix(mix(n000, n100, u.x), mix(n010, n110, u.x), u.y),
               mix(mix(n001, n101, u.x), mix(n011, n111, u.x), u.y), u.z);
}

void main() {
    vec3 p = vec3(mod(floor(gl_FragCoord.x), 64.0), floor(gl_FragCoord.y), slice) / 32.0;
    float sum = 0.0;
    float amplitude = 1.0;
    for (int octave = 0; octave < 8; ++octave) {
        sum += amplitude * gradientNoise(p);
        p *= 2.03;
        amplitude *= 0.5;
    }
    density = vec4(sum - p.y * 0.001, 0.0, 0.0, 1.0);
}
)";

struct QuadVertex {
    float x, y, z, w, u, v;
};

// The leftmost 64 columns, half-texel shifted; the vertex stage moves it to its slice.
constexpr QuadVertex kSliceQuad[4] = {
    {-1.0f - 1.0f / 4096.0f, 1.0f + 1.0f / 64.0f, 0, 0, 0, 0},
    {-1.0f - 1.0f / 4096.0f + 1.0f / 32.0f, 1.0f + 1.0f / 64.0f, 0, 0, 1, 0},
    {-1.0f - 1.0f / 4096.0f, -1.0f + 1.0f / 64.0f, 0, 0, 0, 1},
    {-1.0f - 1.0f / 4096.0f + 1.0f / 32.0f, -1.0f + 1.0f / 64.0f, 0, 0, 1, 1},
};

IDirect3DDevice9* sharedDevice() {
    static IDirect3DDevice9* device = [] {
        IDirect3DDevice9* created = nullptr;
        if (FAILED(d3d9gl::createHeadlessDevice(64, 64, &created))) {
            std::fprintf(stderr, "no headless OpenGL 4.5 device\n");
            std::exit(1);
        }
        return created;
    }();
    return device;
}

GLuint noiseProgram(IDirect3DDevice9* device) {
    std::string log;
    const GLuint program = d3d9gl::test::compileProgram(device, kVertexShader, kNoiseShader, &log);
    if (program == 0) {
        std::fprintf(stderr, "%s\n", log.c_str());
        std::exit(1);
    }
    return program;
}

void throughLayer(benchmark::State& state) {
    IDirect3DDevice9* device = sharedDevice();
    const GLuint program = noiseProgram(device);
    const GLint sliceLocation = glGetUniformLocation(program, "slice");
    Ref<IDirect3DTexture9> target, readback;
    device->CreateTexture(kWidth, kHeight, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F, D3DPOOL_DEFAULT,
                          target.out(), nullptr);
    device->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_R32F, D3DPOOL_SYSTEMMEM, readback.out(),
                          nullptr);
    Ref<IDirect3DSurface9> targetSurface, readbackSurface, saved;
    target->GetSurfaceLevel(0, targetSurface.out());
    readback->GetSurfaceLevel(0, readbackSurface.out());
    Ref<IDirect3DVertexDeclaration9> declaration = d3d9gl::test::makeQuadDeclaration(device);
    Ref<IDirect3DVertexBuffer9> quad =
        d3d9gl::test::makeVertexBuffer(device, kSliceQuad, sizeof kSliceQuad);
    std::vector<float> density(std::size_t{kWidth} * kHeight);
    for (auto _ : state) {
        device->GetRenderTarget(0, saved.out());
        device->SetVertexDeclaration(declaration.get());
        device->SetStreamSource(0, quad.get(), 0, sizeof(QuadVertex));
        device->SetRenderTarget(0, targetSurface.get());
        device->SetDepthStencilSurface(nullptr);
        d3d9gl::setProgram(device, program);
        for (int slice = 0; slice < kSlices; ++slice) {
            d3d9gl::bindThreadContext(device);
            glProgramUniform1f(program, sliceLocation, static_cast<float>(slice));
            device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        }
        device->SetRenderTarget(0, saved.get());
        device->GetRenderTargetData(targetSurface.get(), readbackSurface.get());
        D3DLOCKED_RECT locked;
        readbackSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        for (UINT row = 0; row < kHeight; ++row) {
            std::memcpy(density.data() + std::size_t{row} * kWidth,
                        static_cast<const std::uint8_t*>(locked.pBits) + row * locked.Pitch,
                        kWidth * sizeof(float));
        }
        readbackSurface->UnlockRect();
        benchmark::DoNotOptimize(density.data());
    }
    d3d9gl::setProgram(device, 0);
    device->SetStreamSource(0, nullptr, 0, 0);
    d3d9gl::test::deleteProgram(device, program);
    state.counters["slices/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSlices, benchmark::Counter::kIsRate);
}

void plainGl(benchmark::State& state) {
    IDirect3DDevice9* device = sharedDevice();
    const GLuint program = noiseProgram(device);
    d3d9gl::bindThreadContext(device);
    const GLint sliceLocation = glGetUniformLocation(program, "slice");
    glProgramUniform2f(program, glGetUniformLocation(program, "d3d9_pixelOffset"), 1.0f / kWidth,
                       -1.0f / kHeight);
    GLuint texture = 0, framebuffer = 0, buffer = 0, vertexArray = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 1, GL_R32F, kWidth, kHeight);
    glCreateFramebuffers(1, &framebuffer);
    glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, texture, 0);
    glCreateBuffers(1, &buffer);
    glNamedBufferStorage(buffer, sizeof kSliceQuad, kSliceQuad, 0);
    glCreateVertexArrays(1, &vertexArray);
    glVertexArrayVertexBuffer(vertexArray, 0, buffer, 0, sizeof(QuadVertex));
    glEnableVertexArrayAttrib(vertexArray, 0);
    glVertexArrayAttribFormat(vertexArray, 0, 4, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribBinding(vertexArray, 0, 0);
    std::vector<float> density(std::size_t{kWidth} * kHeight);
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, kWidth, kHeight);
        glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_BLEND);
        glDisable(GL_CULL_FACE);
        glBindVertexArray(vertexArray);
        glUseProgram(program);
        for (int slice = 0; slice < kSlices; ++slice) {
            glProgramUniform1f(program, sliceLocation, static_cast<float>(slice));
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTextureImage(texture, 0, GL_RED, GL_FLOAT,
                          static_cast<GLsizei>(density.size() * sizeof(float)), density.data());
        benchmark::DoNotOptimize(density.data());
    }
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteBuffers(1, &buffer);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
    state.counters["slices/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSlices, benchmark::Counter::kIsRate);
}

BENCHMARK(throughLayer)
    ->Name("noise_slices/d3d9_layer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(plainGl)->Name("noise_slices/plain_gl")->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("gl_renderer", d3d9gl::rendererName(sharedDevice()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sharedDevice()->Release();
    return 0;
}
