// Direct3D 9 rasterization over GL: half-texel-shifted quads cover exactly the intended texels,
// row 0 is the top, byte order of A8R8G8B8, the clockwise front face and the 0..1 depth range.
#include "gl_test_support.h"
#include "refusal_of.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace d3d9gl::test {
namespace {

// Writes each texel's own column and row, computed from gl_FragCoord: R32F gets
// column + 4096 * row + 1 (0 stays for texels the quad misses); A8R8G8B8 gets the column's
// low and high bytes in red and green, the row in blue and 200 in alpha. `slice` moves the
// quad right by slice / 32 in clip space.
const char* const kVertexShader = R"(
layout(location = 0) in vec4 position;
uniform float slice;
uniform vec2 d3d9_pixelOffset;
void main() {
    gl_Position = vec4(position.x + slice / 32.0, position.y, position.z, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";

const char* const kFloatFragmentShader = R"(
layout(location = 0) out vec4 color;
void main() {
    color = vec4(floor(gl_FragCoord.x) + 4096.0 * floor(gl_FragCoord.y) + 1.0, 0.0, 0.0, 1.0);
}
)";

const char* const kByteFragmentShader = R"(
layout(location = 0) out vec4 color;
void main() {
    float column = floor(gl_FragCoord.x);
    float row = floor(gl_FragCoord.y);
    color = vec4(mod(column, 256.0), floor(column / 256.0), row, 200.0) / 255.0;
}
)";

class Rasterization : public ::testing::Test {
  protected:
    void SetUp() override {
        device = makeHeadlessDevice();
        ASSERT_TRUE(device);
        declaration = makeQuadDeclaration(device.get());
        std::string log;
        floatProgram = compileProgram(device.get(), kVertexShader, kFloatFragmentShader, &log);
        byteProgram = compileProgram(device.get(), kVertexShader, kByteFragmentShader, &log);
        ASSERT_NE(floatProgram, 0u) << log;
        ASSERT_NE(byteProgram, 0u) << log;
        device->SetVertexDeclaration(declaration.get());
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        if (device) {
            deleteProgram(device.get(), floatProgram);
            deleteProgram(device.get(), byteProgram);
        }
    }

    struct Target {
        Ref<IDirect3DTexture9> texture;
        Ref<IDirect3DSurface9> surface;
        Ref<IDirect3DTexture9> readback;
        Ref<IDirect3DSurface9> readbackSurface;
    };

    Target makeTarget(UINT width, UINT height, D3DFORMAT format) {
        Target target;
        EXPECT_EQ(device->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format,
                                        D3DPOOL_DEFAULT, target.texture.out(), nullptr),
                  S_OK);
        EXPECT_EQ(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM,
                                        target.readback.out(), nullptr),
                  S_OK);
        target.texture->GetSurfaceLevel(0, target.surface.out());
        target.readback->GetSurfaceLevel(0, target.readbackSurface.out());
        return target;
    }

    // Clears the target to zero, draws `vertices` as a strip with the program and `slice`,
    // and returns the read-back rows, packed, top row first.
    std::vector<std::uint8_t> render(Target& target, GLuint program, const QuadVertex* vertices,
                                     UINT count, float slice) {
        Ref<IDirect3DVertexBuffer9> buffer =
            makeVertexBuffer(device.get(), vertices, count * sizeof(QuadVertex));
        Ref<IDirect3DSurface9> saved, savedDepth;
        device->GetRenderTarget(0, saved.out());
        device->GetDepthStencilSurface(savedDepth.out());
        EXPECT_EQ(device->SetRenderTarget(0, target.surface.get()), S_OK);
        device->SetDepthStencilSurface(nullptr);
        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), S_OK);
        bindThreadContext(device.get());
        glProgramUniform1f(program, glGetUniformLocation(program, "slice"), slice);
        setProgram(device.get(), program);
        device->SetStreamSource(0, buffer.get(), 0, sizeof(QuadVertex));
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, count - 2), S_OK);
        device->SetRenderTarget(0, saved.get());
        device->SetDepthStencilSurface(savedDepth.get());
        EXPECT_EQ(device->GetRenderTargetData(target.surface.get(), target.readbackSurface.get()),
                  S_OK);
        D3DSURFACE_DESC desc;
        target.readbackSurface->GetDesc(&desc);
        D3DLOCKED_RECT locked;
        EXPECT_EQ(target.readbackSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
        const UINT rowBytes = desc.Width * 4;
        EXPECT_EQ(static_cast<UINT>(locked.Pitch), rowBytes);
        std::vector<std::uint8_t> rows(std::size_t{rowBytes} * desc.Height);
        for (UINT row = 0; row < desc.Height; ++row) {
            std::memcpy(rows.data() + std::size_t{row} * rowBytes,
                        static_cast<const std::uint8_t*>(locked.pBits) + row * locked.Pitch,
                        rowBytes);
        }
        target.readbackSurface->UnlockRect();
        return rows;
    }

    Ref<IDirect3DDevice9> device;
    Ref<IDirect3DVertexDeclaration9> declaration;
    GLuint floatProgram = 0;
    GLuint byteProgram = 0;
};

// The strip of the leftmost 64 columns of a 4096 x 64 target, half-texel shifted.
void sliceQuad(QuadVertex out[4]) {
    const float left = -1.0f - 1.0f / 4096.0f;
    const float right = left + 1.0f / 32.0f;
    const float top = 1.0f + 1.0f / 64.0f;
    const float bottom = -1.0f + 1.0f / 64.0f;
    out[0] = {left, top, 0, 0, 0, 0};
    out[1] = {right, top, 0, 0, 1, 0};
    out[2] = {left, bottom, 0, 0, 0, 1};
    out[3] = {right, bottom, 0, 0, 1, 1};
}

float texelAt(const std::vector<std::uint8_t>& rows, UINT width, UINT column, UINT row) {
    float value;
    std::memcpy(&value, rows.data() + (std::size_t{row} * width + column) * 4, 4);
    return value;
}

TEST_F(Rasterization, FullQuadCoversEveryTexelOfAFloatTargetExactlyOnce) {
    Target target = makeTarget(4096, 64, D3DFMT_R32F);
    QuadVertex quad[4];
    targetQuad(4096, 64, quad);
    {
        // The implicit 64 x 64 depth surface is smaller than the target: Direct3D refuses.
        Ref<IDirect3DVertexBuffer9> buffer = makeVertexBuffer(device.get(), quad, sizeof quad);
        device->SetStreamSource(0, buffer.get(), 0, sizeof(QuadVertex));
        setProgram(device.get(), floatProgram);
        Ref<IDirect3DSurface9> saved;
        device->GetRenderTarget(0, saved.out());
        device->SetRenderTarget(0, target.surface.get());
        EXPECT_EQ(refusalOf(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2)),
                  Refusal::DepthSmallerThanTarget);
        device->SetRenderTarget(0, saved.get());
    }
    const std::vector<std::uint8_t> rows = render(target, floatProgram, quad, 4, 0.0f);
    int wrong = 0;
    for (UINT row = 0; row < 64; ++row) {
        for (UINT column = 0; column < 4096; ++column) {
            wrong += texelAt(rows, 4096, column, row) != float(column + 4096 * row + 1);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Rasterization, ShiftedSliceQuadLandsInItsOwnSixtyFourColumns) {
    Target target = makeTarget(4096, 64, D3DFMT_R32F);
    QuadVertex quad[4];
    sliceQuad(quad);
    for (int slice : {0, 1, 17, 63}) {
        const std::vector<std::uint8_t> rows =
            render(target, floatProgram, quad, 4, static_cast<float>(slice));
        int wrong = 0;
        for (UINT row = 0; row < 64; ++row) {
            for (UINT column = 0; column < 4096; ++column) {
                const bool inside = column / 64 == static_cast<UINT>(slice);
                const float expected = inside ? float(column + 4096 * row + 1) : 0.0f;
                wrong += texelAt(rows, 4096, column, row) != expected;
            }
        }
        EXPECT_EQ(wrong, 0) << "slice " << slice;
    }
}

TEST_F(Rasterization, ByteTargetReadsBackAsBlueGreenRedAlpha) {
    Target target = makeTarget(1024, 32, D3DFMT_A8R8G8B8);
    QuadVertex quad[4];
    targetQuad(1024, 32, quad);
    const std::vector<std::uint8_t> rows = render(target, byteProgram, quad, 4, 0.0f);
    int wrong = 0;
    for (UINT row = 0; row < 32; ++row) {
        for (UINT column = 0; column < 1024; ++column) {
            const std::uint8_t* texel = rows.data() + (std::size_t{row} * 1024 + column) * 4;
            wrong += texel[0] != row || texel[1] != column / 256 || texel[2] != column % 256 ||
                     texel[3] != 200;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Rasterization, ClipSpaceTopIsRowZero) {
    Target target = makeTarget(1024, 32, D3DFMT_A8R8G8B8);
    QuadVertex quad[4];
    targetQuad(1024, 32, quad);
    // Keep the upper half of clip space: y from +1 down to 0 (plus the half-texel shift).
    quad[2].y = quad[3].y = 1.0f / 32.0f;
    const std::vector<std::uint8_t> rows = render(target, byteProgram, quad, 4, 0.0f);
    for (UINT row = 0; row < 32; ++row) {
        const std::uint8_t alpha = rows[(std::size_t{row} * 1024 + 5) * 4 + 3];
        EXPECT_EQ(alpha, row < 16 ? 200 : 0) << "row " << row;
    }
}

// Triangles clockwise on screen are front faces; D3DCULL_CCW (the default) culls the others.
TEST_F(Rasterization, CullModesFollowDirect3DWinding) {
    Target target = makeTarget(1024, 32, D3DFMT_A8R8G8B8);
    QuadVertex clockwise[3];
    QuadVertex quad[4];
    targetQuad(1024, 32, quad);
    clockwise[0] = quad[0]; // top left
    clockwise[1] = quad[1]; // top right
    clockwise[2] = quad[2]; // bottom left
    const QuadVertex counterClockwise[3] = {quad[0], quad[2], quad[1]};
    const auto covered = [&](const QuadVertex* triangle, DWORD cull) {
        device->SetRenderState(D3DRS_CULLMODE, cull);
        // A triangle list of one, drawn as a strip of one triangle (same order).
        const std::vector<std::uint8_t> rows = render(target, byteProgram, triangle, 3, 0.0f);
        return rows[3] == 200; // the top-left texel
    };
    EXPECT_TRUE(covered(clockwise, D3DCULL_CCW));
    EXPECT_FALSE(covered(counterClockwise, D3DCULL_CCW));
    EXPECT_FALSE(covered(clockwise, D3DCULL_CW));
    EXPECT_TRUE(covered(counterClockwise, D3DCULL_CW));
    EXPECT_TRUE(covered(counterClockwise, D3DCULL_NONE));
}

// Depth runs 0..1 as in Direct3D: z = -0.1 is clipped, LESSEQUAL keeps the nearer quad, and
// the depth read back through the back buffer matches.
TEST_F(Rasterization, DepthRangeIsZeroToOne) {
    const char* const colorShader = R"(
layout(location = 0) out vec4 color;
uniform vec4 paint;
void main() { color = paint; }
)";
    const char* const depthVertexShader = R"(
layout(location = 0) in vec4 position;
uniform float depth;
uniform vec2 d3d9_pixelOffset;
void main() {
    gl_Position = vec4(position.xy, depth, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";
    std::string log;
    const GLuint program = compileProgram(device.get(), depthVertexShader, colorShader, &log);
    ASSERT_NE(program, 0u) << log;
    Ref<IDirect3DVertexBuffer9> buffer = makeTargetQuadBuffer(device.get(), 64, 64);
    device->SetStreamSource(0, buffer.get(), 0, sizeof(QuadVertex));
    setProgram(device.get(), program);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), S_OK);
    const auto drawAt = [&](float depth, float red) {
        bindThreadContext(device.get());
        glProgramUniform1f(program, glGetUniformLocation(program, "depth"), depth);
        glProgramUniform4f(program, glGetUniformLocation(program, "paint"), red, 0, 0, 1);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
        std::vector<std::uint8_t> rgba;
        EXPECT_EQ(readBackBuffer(device.get(), rgba), S_OK);
        return rgba[std::size_t{(10 * 64 + 10) * 4}];
    };
    EXPECT_EQ(drawAt(-0.1f, 1.0f), 0) << "z below 0 is clipped";
    EXPECT_EQ(drawAt(0.7f, 100.0f / 255.0f), 100);
    EXPECT_EQ(drawAt(0.3f, 150.0f / 255.0f), 150) << "nearer wins";
    EXPECT_EQ(drawAt(0.5f, 1.0f), 150) << "farther loses";
    EXPECT_EQ(drawAt(0.3f, 50.0f / 255.0f), 50) << "equal passes LESSEQUAL";
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    EXPECT_EQ(drawAt(0.9f, 1.0f), 255) << "depth test off";
    deleteProgram(device.get(), program);
}

} // namespace
} // namespace d3d9gl::test
