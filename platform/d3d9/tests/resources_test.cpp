// Resources of the device: reference counts, pools and device loss, GetRenderTargetData's
// checks, locks with their true pitch, buffers that follow their memory, and Clear.
#include "gl_test_support.h"
#include "refusal_of.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace d3d9gl::test {
namespace {

ULONG countOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

class Resources : public ::testing::Test {
  protected:
    void SetUp() override {
        device = makeHeadlessDevice(32, 16);
        ASSERT_TRUE(device);
    }

    Ref<IDirect3DTexture9> texture(UINT width, UINT height, UINT levels, DWORD usage,
                                   D3DFORMAT format, D3DPOOL pool) {
        Ref<IDirect3DTexture9> created;
        EXPECT_EQ(device->CreateTexture(width, height, levels, usage, format, pool, created.out(),
                                        nullptr),
                  S_OK);
        return created;
    }

    // Samples level `level` of `source` into a width x height A8R8G8B8 target with a point
    // sampler and returns the target's bytes (B, G, R, A), top row first.
    std::vector<std::uint8_t> sampleLevel(IDirect3DTexture9* source, UINT level, UINT width,
                                          UINT height) {
        const char* const fragmentShader = R"(
in vec2 uv;
layout(location = 0) out vec4 color;
uniform sampler2D source;
uniform float level;
void main() { color = textureLod(source, uv, level); }
)";
        std::string log;
        const GLuint program =
            compileProgram(device.get(), kQuadVertexShader, fragmentShader, &log);
        EXPECT_NE(program, 0u) << log;
        bindThreadContext(device.get());
        glProgramUniform1f(program, glGetUniformLocation(program, "level"),
                           static_cast<float>(level));
        Ref<IDirect3DTexture9> target =
            texture(width, height, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
        Ref<IDirect3DTexture9> copy =
            texture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
        Ref<IDirect3DSurface9> targetSurface, copySurface;
        target->GetSurfaceLevel(0, targetSurface.out());
        copy->GetSurfaceLevel(0, copySurface.out());
        Ref<IDirect3DVertexBuffer9> buffer = makeTargetQuadBuffer(device.get(), width, height);
        Ref<IDirect3DVertexDeclaration9> declaration = makeQuadDeclaration(device.get());
        device->SetVertexDeclaration(declaration.get());
        device->SetTexture(0, source);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        drawQuad(device.get(), targetSurface.get(), buffer.get(), program);
        device->SetTexture(0, nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        setProgram(device.get(), 0);
        deleteProgram(device.get(), program);
        EXPECT_EQ(device->GetRenderTargetData(targetSurface.get(), copySurface.get()), S_OK);
        D3DLOCKED_RECT locked;
        EXPECT_EQ(copySurface->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
        const auto* bytes = static_cast<const std::uint8_t*>(locked.pBits);
        std::vector<std::uint8_t> result(bytes, bytes + std::size_t{width} * height * 4);
        copySurface->UnlockRect();
        return result;
    }

    Ref<IDirect3DDevice9> device;
};

TEST_F(Resources, ReferenceCountsFollowDirect3D) {
    const ULONG deviceCount = countOf(device.get());
    Ref<IDirect3DTexture9> target =
        texture(64, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F, D3DPOOL_DEFAULT);
    EXPECT_EQ(countOf(device.get()), deviceCount + 1) << "a resource holds its device";
    EXPECT_EQ(countOf(target.get()), 1u);

    // A texture's surface shares the texture's count and keeps it alive.
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), S_OK);
    EXPECT_EQ(countOf(target.get()), 2u);
    EXPECT_EQ(target.release()->Release(), 1u);
    D3DSURFACE_DESC desc;
    EXPECT_EQ(surface->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Format, D3DFMT_R32F);

    // Binding does not count; Get* adds a reference.
    Ref<IDirect3DSurface9> saved;
    device->GetRenderTarget(0, saved.out());
    const ULONG backBufferCount = countOf(saved.get());
    ASSERT_EQ(device->SetRenderTarget(0, surface), S_OK);
    EXPECT_EQ(countOf(surface), 1u);
    Ref<IDirect3DSurface9> current;
    ASSERT_EQ(device->GetRenderTarget(0, current.out()), S_OK);
    EXPECT_EQ(current.get(), surface);
    EXPECT_EQ(countOf(surface), 2u);
    current.reset();
    Ref<IDirect3DSurface9> depth;
    ASSERT_EQ(device->GetDepthStencilSurface(depth.out()), S_OK);
    EXPECT_EQ(countOf(depth.get()), 2u) << "the device's own reference and ours";

    // Released while bound: no longer live, still safe to draw into and to restore from.
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 1u);
    EXPECT_EQ(surface->Release(), 0u);
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 0u);
    EXPECT_EQ(countOf(device.get()), deviceCount) << "released resources let the device go";
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), S_OK);
    ASSERT_EQ(device->SetRenderTarget(0, saved.get()), S_OK);
    EXPECT_EQ(countOf(saved.get()), backBufferCount);

    ASSERT_EQ(device->SetDepthStencilSurface(nullptr), S_OK);
    Ref<IDirect3DSurface9> none;
    EXPECT_EQ(device->GetDepthStencilSurface(none.out()), D3DERR_NOTFOUND);
    EXPECT_FALSE(none);
    EXPECT_EQ(refusalOf(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0)),
              Refusal::ClearWithoutDepth);
    ASSERT_EQ(device->SetDepthStencilSurface(depth.get()), S_OK);
    EXPECT_EQ(refusalOf(device->SetRenderTarget(0, depth.get())), Refusal::NotRenderTargetSurface);
    EXPECT_EQ(refusalOf(device->SetRenderTarget(0, nullptr)), Refusal::RenderTarget0Unset);
}

TEST_F(Resources, GetRenderTargetDataRefusesMismatches) {
    const auto surfaceOf = [](IDirect3DTexture9* texture) {
        Ref<IDirect3DSurface9> surface;
        texture->GetSurfaceLevel(0, surface.out());
        return surface;
    };
    Ref<IDirect3DTexture9> target =
        texture(16, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT);
    Ref<IDirect3DTexture9> right = texture(16, 8, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM);
    Ref<IDirect3DTexture9> wider = texture(32, 8, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM);
    Ref<IDirect3DTexture9> taller = texture(16, 4, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SYSTEMMEM);
    Ref<IDirect3DTexture9> otherFormat = texture(16, 8, 1, 0, D3DFMT_R32F, D3DPOOL_SYSTEMMEM);
    Ref<IDirect3DTexture9> managed = texture(16, 8, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED);
    Ref<IDirect3DSurface9> from = surfaceOf(target.get());
    const struct {
        IDirect3DTexture9* from;
        IDirect3DTexture9* to;
        Refusal cause;
    } refused[] = {
        {target.get(), wider.get(), Refusal::SizesDiffer},
        {target.get(), taller.get(), Refusal::SizesDiffer},
        {target.get(), otherFormat.get(), Refusal::FormatsDiffer},
        {target.get(), managed.get(), Refusal::DestinationNotSystemMem},
        {managed.get(), right.get(), Refusal::SourceNotRenderTarget},
    };
    for (const auto& copy : refused) {
        EXPECT_EQ(refusalOf(device->GetRenderTargetData(surfaceOf(copy.from).get(),
                                                        surfaceOf(copy.to).get())),
                  copy.cause);
    }
    Ref<IDirect3DSurface9> to = surfaceOf(right.get());
    D3DLOCKED_RECT locked;
    ASSERT_EQ(to->LockRect(&locked, nullptr, 0), S_OK);
    EXPECT_EQ(refusalOf(device->GetRenderTargetData(from.get(), to.get())),
              Refusal::DestinationLocked);
    to->UnlockRect();

    // The matching copy sees what Clear wrote, at the true pitch.
    Ref<IDirect3DSurface9> saved;
    device->GetRenderTarget(0, saved.out());
    device->SetRenderTarget(0, from.get());
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(255, 51, 102, 0), 1.0f, 0),
              S_OK);
    device->SetRenderTarget(0, saved.get());
    ASSERT_EQ(device->GetRenderTargetData(from.get(), to.get()), S_OK);
    ASSERT_EQ(to->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
    EXPECT_EQ(locked.Pitch, 16 * 16);
    const float* last = reinterpret_cast<const float*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                       7 * locked.Pitch) +
                        15 * 4;
    EXPECT_FLOAT_EQ(last[0], 0.2f);
    EXPECT_FLOAT_EQ(last[1], 0.4f);
    EXPECT_FLOAT_EQ(last[2], 0.0f);
    EXPECT_FLOAT_EQ(last[3], 1.0f);
    to->UnlockRect();
}

TEST_F(Resources, CreationRefusesWhatDirect3DRefuses) {
    Ref<IDirect3DTexture9> refused;
    EXPECT_EQ(refusalOf(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, refused.out(), nullptr)),
              Refusal::RenderTargetNotDefault);
    EXPECT_EQ(refusalOf(device->CreateTexture(16, 16, 6, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                              refused.out(), nullptr)),
              Refusal::TooManyLevels);
    EXPECT_EQ(refusalOf(device->CreateTexture(16, 16, 1, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                              refused.out(), nullptr)),
              Refusal::UnsupportedFormat);
    EXPECT_FALSE(refused);
    Ref<IDirect3DTexture9> chain = texture(16, 4, 0, 0, D3DFMT_L8, D3DPOOL_MANAGED);
    ASSERT_EQ(chain->GetLevelCount(), 5u);
    D3DSURFACE_DESC desc;
    chain->GetLevelDesc(4, &desc);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Height, 1u);
    D3DLOCKED_RECT locked;
    Ref<IDirect3DTexture9> target =
        texture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    // Render targets are read through GetRenderTargetData.
    EXPECT_EQ(refusalOf(target->LockRect(0, &locked, nullptr, 0)), Refusal::NoMemoryToLock);
    EXPECT_EQ(chain->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(refusalOf(chain->LockRect(0, &locked, nullptr, 0)), Refusal::LevelLocked);
    EXPECT_EQ(chain->UnlockRect(0), S_OK);
    EXPECT_EQ(refusalOf(chain->UnlockRect(0)), Refusal::LevelNotLocked);
    const RECT outside = {10, 0, 17, 2};
    EXPECT_EQ(refusalOf(chain->LockRect(0, &locked, &outside, 0)), Refusal::RegionOutsideLevel);
    const RECT inside = {3, 2, 5, 4};
    ASSERT_EQ(chain->LockRect(0, &locked, &inside, 0), S_OK);
    EXPECT_EQ(locked.Pitch, 16);
    chain->UnlockRect(0);
}

// With GORVANE_D3D_DEBUG=1 a refused call names its cause on standard error, one line each;
// without it the refusal is silent.
TEST_F(Resources, RefusalsNameTheirCauseUnderTheDebugSwitch) {
    Ref<IDirect3DTexture9> refused;
    Ref<IDirect3DTexture9> target =
        texture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    Ref<IDirect3DTexture9> managed = texture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    Ref<IDirect3DSurface9> targetSurface, managedSurface;
    target->GetSurfaceLevel(0, targetSurface.out());
    managed->GetSurfaceLevel(0, managedSurface.out());
    D3DLOCKED_RECT locked;
    const auto refuseThree = [&] {
        EXPECT_EQ(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                        D3DPOOL_MANAGED, refused.out(), nullptr),
                  D3DERR_INVALIDCALL);
        EXPECT_EQ(device->GetRenderTargetData(targetSurface.get(), managedSurface.get()),
                  D3DERR_INVALIDCALL);
        EXPECT_EQ(target->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    };

    setenv("GORVANE_D3D_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    refuseThree();
    const std::string reported = testing::internal::GetCapturedStderr();
    unsetenv("GORVANE_D3D_DEBUG");
    EXPECT_EQ(reported,
              "d3d9: CreateTexture refused: render targets live in D3DPOOL_DEFAULT only\n"
              "d3d9: GetRenderTargetData refused: the destination is not in D3DPOOL_SYSTEMMEM\n"
              "d3d9: LockRect refused: a default-pool texture that is not D3DUSAGE_DYNAMIC has "
              "no memory\n");

    testing::internal::CaptureStderr();
    refuseThree();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A managed 4-level texture keeps its contents through a simulated loss: the GL texture is
// made again from the system copy, and sampling every level shows the pattern.
TEST_F(Resources, DeviceLossKeepsManagedContentsAndRefusesWhileDefaultObjectsLive) {
    Ref<IDirect3DTexture9> managed = texture(32, 16, 4, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    const auto texelValue = [](UINT x, UINT y, UINT level) {
        return D3DCOLOR_ARGB(255 - level, x * 7 + level, y * 13, level * 50);
    };
    for (UINT level = 0; level < 4; ++level) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(managed->LockRect(level, &locked, nullptr, 0), S_OK);
        for (UINT y = 0; y < (16u >> level); ++y) {
            auto* row = reinterpret_cast<D3DCOLOR*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                    y * locked.Pitch);
            for (UINT x = 0; x < (32u >> level); ++x) {
                row[x] = texelValue(x, y, level);
            }
        }
        managed->UnlockRect(level);
    }
    Ref<IDirect3DTexture9> systemCopy = texture(8, 8, 1, 0, D3DFMT_R32F, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 0u) << "implicit surfaces do not count";

    Ref<IDirect3DTexture9> target =
        texture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R32F, D3DPOOL_DEFAULT);
    Ref<IDirect3DVertexBuffer9> quad;
    ASSERT_EQ(device->CreateVertexBuffer(96, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                         D3DPOOL_DEFAULT, quad.out(), nullptr),
              S_OK);
    Ref<IDirect3DIndexBuffer9> indices;
    ASSERT_EQ(
        device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, indices.out(), nullptr),
        S_OK);
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 2u);
    EXPECT_EQ(refusalOf(resetDevice(device.get())), Refusal::DefaultPoolAlive);
    target.reset();
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 1u);
    EXPECT_EQ(refusalOf(resetDevice(device.get())), Refusal::DefaultPoolAlive);
    device->SetStreamSource(0, quad.get(), 0, 24);
    quad.reset(); // still bound, but released: Direct3D 9 resets now
    EXPECT_EQ(liveDefaultPoolObjects(device.get()), 0u);

    const GLuint before = textureName(managed.get());
    ASSERT_EQ(resetDevice(device.get()), S_OK);
    EXPECT_NE(textureName(managed.get()), before) << "the loss re-created the GL texture";
    std::vector<std::uint8_t> backBuffer;
    ASSERT_EQ(readBackBuffer(device.get(), backBuffer), S_OK);
    EXPECT_EQ(backBuffer.size(), 32u * 16u * 4u);
    EXPECT_EQ(backBuffer[3], 0) << "the back buffer comes back cleared";

    for (UINT level = 0; level < 4; ++level) {
        const UINT width = 32u >> level, height = 16u >> level;
        const std::vector<std::uint8_t> texels = sampleLevel(managed.get(), level, width, height);
        int wrong = 0;
        for (UINT y = 0; y < height; ++y) {
            for (UINT x = 0; x < width; ++x) {
                D3DCOLOR got;
                std::memcpy(&got, texels.data() + (std::size_t{y} * width + x) * 4, 4);
                wrong += got != texelValue(x, y, level);
            }
        }
        EXPECT_EQ(wrong, 0) << "level " << level;
        D3DLOCKED_RECT locked;
        ASSERT_EQ(managed->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), S_OK);
        EXPECT_EQ(*static_cast<D3DCOLOR*>(locked.pBits), texelValue(0, 0, level));
        managed->UnlockRect(level);
    }
}

// Buffers keep their data in memory; a draw after a partial rewrite shows the new bytes, and
// an indexed draw reads through the index buffer with its base vertex.
TEST_F(Resources, DrawsFollowBufferRewritesAndIndices) {
    const char* const vertexShader = R"(
layout(location = 0) in vec3 position;
layout(location = 6) in vec4 tint;
out vec4 color;
uniform vec2 d3d9_pixelOffset;
void main() {
    color = tint;
    gl_Position = vec4(position, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";
    const char* const fragmentShader = R"(
in vec4 color;
layout(location = 0) out vec4 result;
void main() { result = color; }
)";
    std::string log;
    const GLuint program = compileProgram(device.get(), vertexShader, fragmentShader, &log);
    ASSERT_NE(program, 0u) << log;
    struct Vertex {
        float x, y, z;
        D3DCOLOR color;
    };
    // Two quads' worth of corners: the left half of the back buffer, then the right half.
    const float l = -1.0f - 1.0f / 32.0f, m = -1.0f / 32.0f, r = 1.0f - 1.0f / 32.0f;
    const float t = 1.0f + 1.0f / 16.0f, b = -1.0f + 1.0f / 16.0f;
    const D3DCOLOR red = D3DCOLOR_ARGB(255, 255, 0, 0), blue = D3DCOLOR_ARGB(255, 0, 0, 255);
    const Vertex vertices[8] = {{l, t, 0, red}, {m, t, 0, red}, {l, b, 0, red}, {m, b, 0, red},
                                {m, t, 0, red}, {r, t, 0, red}, {m, b, 0, red}, {r, b, 0, red}};
    Ref<IDirect3DVertexBuffer9> buffer;
    ASSERT_EQ(
        device->CreateVertexBuffer(sizeof vertices, 0, 0, D3DPOOL_MANAGED, buffer.out(), nullptr),
        S_OK);
    void* bits = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &bits, 0), S_OK);
    std::memcpy(bits, vertices, sizeof vertices);
    buffer->Unlock();
    Ref<IDirect3DIndexBuffer9> indices;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                        indices.out(), nullptr),
              S_OK);
    const std::uint16_t list[6] = {0, 1, 2, 2, 1, 3}; // clockwise on screen
    ASSERT_EQ(indices->Lock(0, 0, &bits, 0), S_OK);
    std::memcpy(bits, list, sizeof list);
    indices->Unlock();
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        D3DDECL_END(),
    };
    Ref<IDirect3DVertexDeclaration9> declaration;
    ASSERT_EQ(device->CreateVertexDeclaration(elements, declaration.out()), S_OK);
    UINT count = 0;
    declaration->GetDeclaration(nullptr, &count);
    EXPECT_EQ(count, 3u);
    device->SetVertexDeclaration(declaration.get());
    device->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
    device->SetIndices(indices.get());
    setProgram(device.get(), program);
    const auto pixel = [&](UINT x, UINT y) {
        std::vector<std::uint8_t> rgba;
        readBackBuffer(device.get(), rgba);
        const std::uint8_t* p = rgba.data() + (std::size_t{y} * 32 + x) * 4;
        return D3DCOLOR_ARGB(p[3], p[0], p[1], p[2]);
    };
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), S_OK);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), S_OK);
    EXPECT_EQ(pixel(0, 0), red);
    EXPECT_EQ(pixel(15, 15), red);
    EXPECT_EQ(pixel(16, 0), 0u) << "the right half is not drawn";

    // Rewrite only the right quad's colours, then draw it through the base vertex.
    ASSERT_EQ(buffer->Lock(4 * sizeof(Vertex), 4 * sizeof(Vertex), &bits, 0), S_OK);
    for (int i = 0; i < 4; ++i) {
        std::memcpy(static_cast<std::uint8_t*>(bits) + i * sizeof(Vertex) + 12, &blue, 4);
    }
    buffer->Unlock();
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2), S_OK);
    EXPECT_EQ(pixel(16, 0), blue);
    EXPECT_EQ(pixel(31, 15), blue);
    EXPECT_EQ(pixel(15, 8), red);
    EXPECT_EQ(refusalOf(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 5, 0, 4, 0, 2)),
              Refusal::VerticesPastStream);
    EXPECT_EQ(refusalOf(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 6, 2)),
              Refusal::VerticesPastStream);

    // Clear with rectangles touches only them; row 0 is the top.
    const RECT corner = {30, 0, 32, 1};
    ASSERT_EQ(device->Clear(1, &corner, D3DCLEAR_TARGET, D3DCOLOR_ARGB(255, 0, 255, 0), 1, 0),
              S_OK);
    EXPECT_EQ(pixel(31, 0), D3DCOLOR_ARGB(255, 0, 255, 0));
    EXPECT_EQ(pixel(29, 0), blue);
    EXPECT_EQ(pixel(31, 1), blue);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    setProgram(device.get(), 0);
    deleteProgram(device.get(), program);
}

} // namespace
} // namespace d3d9gl::test
