// A texel written at (i, j) is read back at the texture coordinate of its centre, with point
// and linear filtering: render targets of R32F and A32B32G32R32F written by a first pass, and a
// 64^3 A16B16G16R16F volume filled level by level through LockBox.
#include "gl_test_support.h"

#include "platform/d3d9/texel_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace d3d9gl::test {
namespace {

// The first pass: each texel gets a pattern of its own column and row.
const char* const kPatternFragmentShader = R"(
layout(location = 0) out vec4 color;
void main() {
    float i = floor(gl_FragCoord.x);
    float j = floor(gl_FragCoord.y);
    color = vec4(i + 4.0 * j, 0.5 * i - j, j * 0.25, 7.0 - i);
}
)";

// Reads level `level` of a volume at the centre of texel (x, y, slice), with the level's slices
// side by side: column = slice * n + x, as the density slices are laid out.
const char* const kVolumeFragmentShader = R"(
layout(location = 0) out vec4 color;
uniform sampler3D volume;
uniform float level;
uniform float size;
void main() {
    float column = floor(gl_FragCoord.x);
    vec3 texel = vec3(mod(column, size), floor(gl_FragCoord.y), floor(column / size));
    color = textureLod(volume, (texel + 0.5) / size, level);
}
)";

struct Pattern {
    float r, g, b, a;
};

Pattern pattern(UINT i, UINT j) {
    const float x = static_cast<float>(i);
    const float y = static_cast<float>(j);
    return {x + 4.0f * y, 0.5f * x - y, y * 0.25f, 7.0f - x};
}

class Sampling : public ::testing::Test {
  protected:
    void SetUp() override {
        device = makeHeadlessDevice();
        ASSERT_TRUE(device);
        declaration = makeQuadDeclaration(device.get());
        device->SetVertexDeclaration(declaration.get());
        device->SetDepthStencilSurface(nullptr); // the targets are larger than the back buffer
        std::string log;
        patternProgram =
            compileProgram(device.get(), kQuadVertexShader, kPatternFragmentShader, &log);
        copyProgram = compileProgram(device.get(), kQuadVertexShader, kCopyFragmentShader, &log);
        volumeProgram =
            compileProgram(device.get(), kQuadVertexShader, kVolumeFragmentShader, &log);
        ASSERT_TRUE(patternProgram != 0 && copyProgram != 0 && volumeProgram != 0) << log;
    }
    void TearDown() override {
        if (device) {
            for (GLuint program : {patternProgram, copyProgram, volumeProgram}) {
                deleteProgram(device.get(), program);
            }
        }
    }

    Ref<IDirect3DTexture9> makeRenderTarget(UINT width, UINT height, D3DFORMAT format) {
        Ref<IDirect3DTexture9> texture;
        EXPECT_EQ(device->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format,
                                        D3DPOOL_DEFAULT, texture.out(), nullptr),
                  S_OK);
        return texture;
    }

    // Draws the whole-target quad into level 0 of `target` with `program`.
    void drawInto(IDirect3DTexture9* target, GLuint program) {
        D3DSURFACE_DESC desc;
        target->GetLevelDesc(0, &desc);
        Ref<IDirect3DVertexBuffer9> buffer =
            makeTargetQuadBuffer(device.get(), desc.Width, desc.Height);
        Ref<IDirect3DSurface9> surface;
        target->GetSurfaceLevel(0, surface.out());
        drawQuad(device.get(), surface.get(), buffer.get(), program);
    }

    // Level 0 of an A32B32G32R32F render target, read back.
    std::vector<Pattern> readBack(IDirect3DTexture9* target) {
        D3DSURFACE_DESC desc;
        target->GetLevelDesc(0, &desc);
        Ref<IDirect3DTexture9> copy;
        EXPECT_EQ(device->CreateTexture(desc.Width, desc.Height, 1, 0, D3DFMT_A32B32G32R32F,
                                        D3DPOOL_SYSTEMMEM, copy.out(), nullptr),
                  S_OK);
        Ref<IDirect3DSurface9> from, to;
        target->GetSurfaceLevel(0, from.out());
        copy->GetSurfaceLevel(0, to.out());
        EXPECT_EQ(device->GetRenderTargetData(from.get(), to.get()), S_OK);
        std::vector<Pattern> texels(std::size_t{desc.Width} * desc.Height);
        D3DLOCKED_RECT locked;
        EXPECT_EQ(to->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
        EXPECT_EQ(static_cast<UINT>(locked.Pitch), desc.Width * 16);
        std::memcpy(texels.data(), locked.pBits, texels.size() * sizeof(Pattern));
        to->UnlockRect();
        return texels;
    }

    void setFilter(DWORD filter) {
        device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    }

    Ref<IDirect3DDevice9> device;
    Ref<IDirect3DVertexDeclaration9> declaration;
    GLuint patternProgram = 0, copyProgram = 0, volumeProgram = 0;
};

// A wrong texture coordinate by half a texel would move a linear read halfway to a
// neighbour, at least 0.125 away here; filtering arithmetic stays far inside this.
constexpr float kTolerance = 1.0f / 64.0f;

TEST_F(Sampling, RenderTargetTexelsReadAtTheirCentres) {
    struct Case {
        D3DFORMAT format;
        UINT width, height;
    };
    for (const Case& c : {Case{D3DFMT_R32F, 4096, 64}, Case{D3DFMT_A32B32G32R32F, 128, 16}}) {
        Ref<IDirect3DTexture9> source = makeRenderTarget(c.width, c.height, c.format);
        Ref<IDirect3DTexture9> copy = makeRenderTarget(c.width, c.height, D3DFMT_A32B32G32R32F);
        drawInto(source.get(), patternProgram);
        device->SetTexture(0, source.get());
        for (DWORD filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
            setFilter(filter);
            drawInto(copy.get(), copyProgram);
            const std::vector<Pattern> texels = readBack(copy.get());
            int wrong = 0;
            for (UINT j = 0; j < c.height; ++j) {
                for (UINT i = 0; i < c.width; ++i) {
                    const Pattern& got = texels[std::size_t{j} * c.width + i];
                    Pattern want = pattern(i, j);
                    if (c.format == D3DFMT_R32F) {
                        want = {want.r, 1.0f, 1.0f, 1.0f}; // Direct3D's R32F: (r, 1, 1, 1)
                    }
                    wrong += std::fabs(got.r - want.r) > kTolerance ||
                             std::fabs(got.g - want.g) > kTolerance ||
                             std::fabs(got.b - want.b) > kTolerance ||
                             std::fabs(got.a - want.a) > kTolerance;
                }
            }
            EXPECT_EQ(wrong, 0) << "format " << c.format << " filter " << filter;
        }
        device->SetTexture(0, nullptr);
    }
}

// A draw keeps the texture bound on a stage from one draw to the next, but not once another
// layer drew with its own texture there (as the engine's sky and texts do): the copy after
// that reads the pattern again, not the other layer's texture.
TEST_F(Sampling, DrawSamplesItsStageAfterAnotherLayerBoundATexture) {
    constexpr UINT width = 32, height = 8;
    Ref<IDirect3DTexture9> source = makeRenderTarget(width, height, D3DFMT_A32B32G32R32F);
    Ref<IDirect3DTexture9> other = makeRenderTarget(width, height, D3DFMT_A32B32G32R32F);
    Ref<IDirect3DTexture9> copy = makeRenderTarget(width, height, D3DFMT_A32B32G32R32F);
    drawInto(source.get(), patternProgram);
    drawInto(other.get(), copyProgram); // samples nothing: all zero
    setFilter(D3DTEXF_POINT);
    device->SetTexture(0, source.get());
    for (int round = 0; round < 2; ++round) {
        drawInto(copy.get(), copyProgram);
        const std::vector<Pattern> texels = readBack(copy.get());
        int wrong = 0;
        for (UINT j = 0; j < height; ++j) {
            for (UINT i = 0; i < width; ++i) {
                const Pattern& got = texels[std::size_t{j} * width + i];
                const Pattern want = pattern(i, j);
                wrong += got.r != want.r || got.g != want.g || got.b != want.b || got.a != want.a;
            }
        }
        EXPECT_EQ(wrong, 0) << "round " << round;
        bindBackBufferForDrawing(device.get());
        glBindTextureUnit(0, textureName(other.get()));
    }
    device->SetTexture(0, nullptr);
}

// Every level of a managed 64^3 half-float volume, filled through LockBox with values that
// halves hold exactly, reads back from the GPU as written.
TEST_F(Sampling, HalfFloatVolumeLevelsReadAtTheirCentres) {
    Ref<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device->CreateVolumeTexture(64, 64, 64, 0, 0, D3DFMT_A16B16G16R16F, D3DPOOL_MANAGED,
                                          volume.out(), nullptr),
              S_OK);
    ASSERT_EQ(volume->GetLevelCount(), 7u);
    const auto value = [](UINT x, UINT y, UINT z, UINT level) {
        return Pattern{static_cast<float>(x) + 0.5f, static_cast<float>(y) * 2.0f,
                       static_cast<float>(z) - 32.0f, static_cast<float>(level) + 0.25f};
    };
    for (UINT level = 0; level < 7; ++level) {
        const UINT n = 64u >> level;
        Ref<IDirect3DVolume9> box;
        ASSERT_EQ(volume->GetVolumeLevel(level, box.out()), S_OK);
        D3DVOLUME_DESC desc;
        box->GetDesc(&desc);
        ASSERT_EQ(desc.Width, n);
        ASSERT_EQ(desc.Depth, n);
        D3DLOCKED_BOX locked;
        ASSERT_EQ(box->LockBox(&locked, nullptr, 0), S_OK);
        ASSERT_EQ(static_cast<UINT>(locked.RowPitch), n * 8);
        ASSERT_EQ(static_cast<UINT>(locked.SlicePitch), n * n * 8);
        for (UINT z = 0; z < n; ++z) {
            for (UINT y = 0; y < n; ++y) {
                auto* row =
                    reinterpret_cast<std::uint16_t*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                     z * locked.SlicePitch + y * locked.RowPitch);
                for (UINT x = 0; x < n; ++x) {
                    const Pattern p = value(x, y, z, level);
                    row[4 * x + 0] = d3dx::floatToHalf(p.r); // R first in memory
                    row[4 * x + 1] = d3dx::floatToHalf(p.g);
                    row[4 * x + 2] = d3dx::floatToHalf(p.b);
                    row[4 * x + 3] = d3dx::floatToHalf(p.a);
                }
            }
        }
        ASSERT_EQ(box->UnlockBox(), S_OK);
    }
    device->SetTexture(0, volume.get());
    for (DWORD filter : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
        setFilter(filter);
        for (UINT level = 0; level < 7; ++level) {
            const UINT n = 64u >> level;
            Ref<IDirect3DTexture9> target = makeRenderTarget(n * n, n, D3DFMT_A32B32G32R32F);
            bindThreadContext(device.get());
            glProgramUniform1f(volumeProgram, glGetUniformLocation(volumeProgram, "level"),
                               static_cast<float>(level));
            glProgramUniform1f(volumeProgram, glGetUniformLocation(volumeProgram, "size"),
                               static_cast<float>(n));
            drawInto(target.get(), volumeProgram);
            const std::vector<Pattern> texels = readBack(target.get());
            int wrong = 0;
            for (UINT column = 0; column < n * n; ++column) {
                for (UINT y = 0; y < n; ++y) {
                    const Pattern want = value(column % n, y, column / n, level);
                    const Pattern& got = texels[std::size_t{y} * n * n + column];
                    wrong += std::fabs(got.r - want.r) > kTolerance ||
                             std::fabs(got.g - want.g) > kTolerance ||
                             std::fabs(got.b - want.b) > kTolerance ||
                             std::fabs(got.a - want.a) > kTolerance;
                }
            }
            EXPECT_EQ(wrong, 0) << "level " << level << " filter " << filter;
        }
    }
    device->SetTexture(0, nullptr);
}

} // namespace
} // namespace d3d9gl::test
