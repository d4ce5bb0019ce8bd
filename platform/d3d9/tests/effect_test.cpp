// Effects on a headless device: parameter values set by name are rendered and read back against
// the values computed on the CPU; Begin/End save and restore the device state the passes
// change; compile errors name the effect file's own lines.
#include "platform/d3d9/d3dx9effect.h"
#include "platform/d3d9/tests/gl_test_support.h"
#include "platform/d3d9/tests/refusal_of.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace d3d9gl::test {
namespace {

using Texel = std::array<float, 4>;

// An effect file in the test's temporary folder, removed again at the end.
class EffectFile {
  public:
    EffectFile(const std::string& name, std::string_view text)
        : path_((std::filesystem::path(::testing::TempDir()) /
                 ("gorvane_" + std::to_string(getpid()) + "_" + name))
                    .string()) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~EffectFile() { std::filesystem::remove(path_); }
    EffectFile(const EffectFile&) = delete;
    EffectFile& operator=(const EffectFile&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct Creation {
    HRESULT result = E_FAIL;
    Ref<ID3DXEffect> effect;
    std::string errors;
};

Creation createEffect(IDirect3DDevice9* device, const std::string& path,
                      DWORD flags = D3DXSHADER_USE_LEGACY_D3DX9_31_DLL) {
    Creation creation;
    ID3DXBuffer* errors = nullptr;
    creation.result = D3DXCreateEffectFromFileA(device, path.c_str(), nullptr, nullptr, flags,
                                                nullptr, creation.effect.out(), &errors);
    if (errors) {
        creation.errors = static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    return creation;
}

// Every line of `text` that is not empty.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// A float render target (no depth surface) current on the device, read back texel by texel.
class FloatTarget {
  public:
    FloatTarget(IDirect3DDevice9* device, UINT width, UINT height)
        : device_(device), width_(width), height_(height) {
        EXPECT_EQ(device->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET,
                                        D3DFMT_A32B32G32R32F, D3DPOOL_DEFAULT, texture_.out(),
                                        nullptr),
                  S_OK);
        texture_->GetSurfaceLevel(0, surface_.out());
        device->SetRenderTarget(0, surface_.get());
        device->SetDepthStencilSurface(nullptr);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    }

    // Texels in row order, row 0 at the top.
    std::vector<Texel> read() {
        Ref<IDirect3DTexture9> copy;
        Ref<IDirect3DSurface9> copySurface;
        EXPECT_EQ(device_->CreateTexture(width_, height_, 1, 0, D3DFMT_A32B32G32R32F,
                                         D3DPOOL_SYSTEMMEM, copy.out(), nullptr),
                  S_OK);
        copy->GetSurfaceLevel(0, copySurface.out());
        EXPECT_EQ(device_->GetRenderTargetData(surface_.get(), copySurface.get()), S_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(copySurface->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
        std::vector<Texel> texels(width_ * height_);
        for (UINT row = 0; row < height_; ++row) {
            std::memcpy(&texels[row * width_],
                        static_cast<const char*>(locked.pBits) +
                            static_cast<std::size_t>(row) * locked.Pitch,
                        width_ * sizeof(Texel));
        }
        copySurface->UnlockRect();
        return texels;
    }

  private:
    IDirect3DDevice9* device_;
    UINT width_;
    UINT height_;
    Ref<IDirect3DTexture9> texture_;
    Ref<IDirect3DSurface9> surface_;
};

class Effects : public ::testing::Test {
  protected:
    void SetUp() override {
        device = makeHeadlessDevice();
        ASSERT_TRUE(device);
        declaration = makeQuadDeclaration(device.get());
    }

    // Binds a quad with the given clip-space corners as stream 0.
    void useQuad(float left, float top, float right, float bottom) {
        const QuadVertex quad[4] = {{left, top, 0, 1, 0, 0},
                                    {right, top, 0, 1, 1, 0},
                                    {left, bottom, 0, 1, 0, 1},
                                    {right, bottom, 0, 1, 1, 1}};
        quadBuffer = makeVertexBuffer(device.get(), quad, sizeof quad);
        device->SetVertexDeclaration(declaration.get());
        device->SetStreamSource(0, quadBuffer.get(), 0, sizeof(QuadVertex));
    }

    // Runs every pass of the current technique with one quad each, as the program does.
    void run(ID3DXEffect* effect) {
        UINT passes = 0;
        ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
        for (UINT pass = 0; pass < passes; ++pass) {
            ASSERT_EQ(effect->BeginPass(pass), S_OK);
            ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
            ASSERT_EQ(effect->EndPass(), S_OK);
        }
        ASSERT_EQ(effect->End(), S_OK);
    }

    template <class TextureType> void fill(TextureType* texture, const std::vector<Texel>& texels);

    Ref<IDirect3DDevice9> device;
    Ref<IDirect3DVertexDeclaration9> declaration;
    Ref<IDirect3DVertexBuffer9> quadBuffer;
};

template <> void Effects::fill(IDirect3DTexture9* texture, const std::vector<Texel>& texels) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    for (UINT row = 0; row < desc.Height; ++row) {
        std::memcpy(static_cast<char*>(locked.pBits) + static_cast<std::size_t>(row) * locked.Pitch,
                    &texels[row * desc.Width], desc.Width * sizeof(Texel));
    }
    texture->UnlockRect(0);
}

template <> void Effects::fill(IDirect3DVolumeTexture9* texture, const std::vector<Texel>& texels) {
    D3DLOCKED_BOX locked{};
    ASSERT_EQ(texture->LockBox(0, &locked, nullptr, 0), S_OK);
    D3DVOLUME_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    for (UINT slice = 0; slice < desc.Depth; ++slice) {
        for (UINT row = 0; row < desc.Height; ++row) {
            std::memcpy(static_cast<char*>(locked.pBits) +
                            static_cast<std::size_t>(slice) * locked.SlicePitch +
                            static_cast<std::size_t>(row) * locked.RowPitch,
                        &texels[(slice * desc.Height + row) * desc.Width],
                        desc.Width * sizeof(Texel));
        }
    }
    texture->UnlockBox(0);
}

// Column c of a 5 x 1 target shows one parameter: the matrix applied to a point, the vector,
// the float and int, a texel of the 2D texture, a texel of the volume.
constexpr std::string_view valuesEffect = R"(@param float4x4 matWorld
@param float4 g_vec
@param float g_f
@param int g_i
@param texture2D g_tex address=clamp
@param texture3D g_vol filter=point address=clamp
@param float4 g_unused

@vs quad
layout(location = 0) in vec4 position;
void main() { gl_Position = position; }
@end

@fs values
layout(location = 0) out vec4 color;
void main() {
    int column = int(gl_FragCoord.x);
    if (column == 0) color = matWorld * vec4(1.0, 2.0, 3.0, 1.0);
    else if (column == 1) color = g_vec;
    else if (column == 2) color = vec4(g_f, float(g_i), 0.0, 0.0);
    else if (column == 3) color = texture(g_tex, vec2(0.75, 0.25));
    else color = texture(g_vol, vec3(0.25, 0.75, 0.75));
}
@end

@fs constant
layout(location = 0) out vec4 color;
void main() { color = vec4(-1.0); }
@end

@technique constant
@pass p0 vs=quad fs=constant cull=none
@technique values
@pass p0 vs=quad fs=values cull=none zenable=false
)";

TEST_F(Effects, ParametersSetByNameReachTheShaderOnAnyThread) {
    const EffectFile file("values.fx", valuesEffect);
    Creation created = createEffect(device.get(), file.path());
    ASSERT_EQ(created.result, S_OK) << created.errors;
    ASSERT_TRUE(created.errors.empty());
    ID3DXEffect* effect = created.effect.get();

    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED,
                                    texture.out(), nullptr),
              S_OK);
    const std::vector<Texel> texels = {
        {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    fill(texture.get(), texels);
    Ref<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device->CreateVolumeTexture(2, 2, 2, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED,
                                          volume.out(), nullptr),
              S_OK);
    std::vector<Texel> voxels;
    for (int i = 0; i < 8; ++i)
        voxels.push_back({i * 0.5f, -i * 1.0f, i * 2.0f, 100.0f + i});
    fill(volume.get(), voxels);

    const D3DXMATRIX matrix(1, 2, 3, 4, -5, 6, -7, 8, 0.5f, 0.25f, 9, -1, 10, 20, 30, 40);
    const D3DXVECTOR4 vector(0.125f, -2.5f, 1e6f, -3.0f);
    ASSERT_EQ(effect->SetTechnique("values"), S_OK);
    ASSERT_EQ(effect->SetMatrix("matWorld", &matrix), S_OK);
    ASSERT_EQ(effect->SetVector("g_vec", &vector), S_OK);
    ASSERT_EQ(effect->SetFloat("g_f", 0.375f), S_OK);
    ASSERT_EQ(effect->SetInt("g_i", -7), S_OK);
    ASSERT_EQ(effect->SetTexture("g_tex", texture.get()), S_OK);
    ASSERT_EQ(effect->SetTexture("g_vol", volume.get()), S_OK);
    ASSERT_EQ(effect->SetVector("g_unused", &vector), S_OK); // optimised away: still settable

    // Unknown names and values of the wrong kind fail and change nothing.
    const D3DXVECTOR4 wrong(9, 9, 9, 9);
    const std::vector<Refusal> causes = {
        refusalOf(effect->SetTechnique("renderTerrain")),
        refusalOf(effect->SetTechnique(nullptr)),
        refusalOf(effect->SetFloat("g_z", 9.0f)),
        refusalOf(effect->SetFloat("g_vec", 9.0f)),
        refusalOf(effect->SetInt("g_f", 9)),
        refusalOf(effect->SetVector("matWorld", &wrong)),
        refusalOf(effect->SetMatrix("g_vec", &matrix)),
        refusalOf(effect->SetMatrix("matWorld", nullptr)),
        refusalOf(effect->SetTexture("g_tex", volume.get())),
        refusalOf(effect->SetTexture("g_vol", texture.get())),
        refusalOf(effect->SetTexture("g_f", texture.get())),
    };
    const Refusal floats = Refusal::UnknownFloats;
    const Refusal textures = Refusal::UnknownTexture;
    EXPECT_EQ(causes, (std::vector<Refusal>{Refusal::UnknownTechnique, Refusal::NoTechniqueName,
                                            floats, floats, Refusal::UnknownInt, floats, floats,
                                            Refusal::NoMatrix, textures, textures, textures}));

    Texel expectedPoint{};
    const float point[4] = {1, 2, 3, 1};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row)
            expectedPoint[column] += point[row] * matrix.m[row][column];
    }
    const std::vector<Texel> expected = {expectedPoint,
                                         {vector.x, vector.y, vector.z, vector.w},
                                         {0.375f, -7.0f, 0, 0},
                                         texels[1],  // column 1, row 0
                                         voxels[6]}; // x 0, y 1, slice 1

    // The effect was compiled on this thread's context; draw on another thread's.
    std::vector<Texel> drawn;
    std::thread([&] {
        FloatTarget target(device.get(), 5, 1);
        useQuad(-2, 2, 2, -2);
        run(effect);
        drawn = target.read();
    }).join();
    ASSERT_EQ(drawn.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(drawn[i][c], expected[i][c],
                        1e-6 * std::max(1.0f, std::abs(expected[i][c])))
                << "column " << i << " channel " << c;
        }
    }
}

// CommitChanges inside a pass reaches the next draw of the same pass.
TEST_F(Effects, CommitChangesInsideAPassReachesTheNextDraw) {
    const EffectFile file("commit.fx", R"(@param int g_column
@param float g_f
@vs quad
layout(location = 0) in vec4 position;
void main() { gl_Position = position; }
@end
@fs one
layout(location = 0) out vec4 color;
void main() {
    if (int(gl_FragCoord.x) != g_column) discard;
    color = vec4(g_f);
}
@end
@technique t
@pass p vs=quad fs=one cull=none
)");
    Creation created = createEffect(device.get(), file.path());
    ASSERT_EQ(created.result, S_OK) << created.errors;
    ID3DXEffect* effect = created.effect.get();
    FloatTarget target(device.get(), 3, 1);
    useQuad(-2, 2, 2, -2);

    effect->SetInt("g_column", 0);
    effect->SetFloat("g_f", 0.5f);
    EXPECT_EQ(effect->CommitChanges(), S_OK); // outside a pass: the next BeginPass uploads
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
    ASSERT_EQ(effect->BeginPass(0), S_OK);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    effect->SetInt("g_column", 2);
    effect->SetFloat("g_f", 0.75f);
    ASSERT_EQ(effect->CommitChanges(), S_OK);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    effect->EndPass();
    effect->End();

    const std::vector<Texel> drawn = target.read();
    EXPECT_EQ(drawn[0], (Texel{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(drawn[1], (Texel{0, 0, 0, 0}));
    EXPECT_EQ(drawn[2], (Texel{0.75f, 0.75f, 0.75f, 0.75f}));
}

// A quad with Direct3D's half-texel shift, covering the top-left quarter of a 4 x 4 target,
// covers exactly its 2 x 2 texels only because every vertex stage gets the pixel-centre
// correction; without it the quad would cover a single texel.
TEST_F(Effects, VertexStagesGetTheHalfPixelCorrection) {
    const EffectFile file("pixels.fx", R"(@vs quad
layout(location = 0) in vec4 position;
void main() {
    gl_Position = position;
    if (position.x > 100.0) return;   // an early return still gets the correction
}
@end
@fs white
layout(location = 0) out vec4 color;
void main() { color = vec4(1.0); }
@end
@technique t
@pass p vs=quad fs=white cull=none
)");
    Creation created = createEffect(device.get(), file.path());
    ASSERT_EQ(created.result, S_OK) << created.errors;
    FloatTarget target(device.get(), 4, 4);
    const float halfTexel = 0.25f; // of a 4-texel axis in clip units
    useQuad(-1 - halfTexel, 1 + halfTexel, 0 - halfTexel, 0 + halfTexel);
    run(created.effect.get());

    const std::vector<Texel> drawn = target.read();
    for (UINT row = 0; row < 4; ++row) {
        for (UINT column = 0; column < 4; ++column) {
            const float value = row < 2 && column < 2 ? 1.0f : 0.0f;
            EXPECT_EQ(drawn[row * 4 + column], (Texel{value, value, value, value}))
                << "row " << row << " column " << column;
        }
    }
}

constexpr std::string_view statesEffect = R"(@param texture2D g_first filter=point address=wrap
@param texture2D g_second filter=linear address=clamp
@vs quad
layout(location = 0) in vec4 position;
void main() { gl_Position = position; }
@end
@fs both
layout(location = 0) out vec4 color;
void main() { color = texture(g_first, vec2(0.5)) + texture(g_second, vec2(0.5)); }
@end
@technique states
@pass p0 vs=quad fs=both cull=none zenable=true zwrite=true blend=alpha
@pass p1 vs=quad fs=both cull=ccw blend=add
)";

TEST_F(Effects, EndRestoresTheStateThePassesChanged) {
    const EffectFile file("states.fx", statesEffect);
    Creation created = createEffect(device.get(), file.path());
    ASSERT_EQ(created.result, S_OK) << created.errors;
    ID3DXEffect* effect = created.effect.get();

    Ref<IDirect3DTexture9> textures[5];
    for (Ref<IDirect3DTexture9>& texture : textures) {
        ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out(),
                                        nullptr),
                  S_OK);
    }
    effect->SetTexture("g_first", textures[3].get());
    effect->SetTexture("g_second", textures[4].get());

    // The state before: unusual values everywhere the passes write.
    const GLuint before = compileProgram(device.get(),
                                         "layout(location = 0) in vec4 p;\n"
                                         "void main() { gl_Position = p; }\n",
                                         "out vec4 c;\nvoid main() { c = vec4(1.0); }\n");
    ASSERT_NE(before, 0u);
    setProgram(device.get(), before);
    const std::vector<std::pair<D3DRENDERSTATETYPE, DWORD>> renderStates = {
        {D3DRS_CULLMODE, D3DCULL_CW},    {D3DRS_ZENABLE, FALSE},
        {D3DRS_ZWRITEENABLE, FALSE},     {D3DRS_ALPHABLENDENABLE, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_ZERO}, {D3DRS_DESTBLEND, D3DBLEND_ZERO}};
    for (const auto& [state, value] : renderStates)
        device->SetRenderState(state, value);
    for (DWORD stage = 0; stage < 3; ++stage)
        device->SetTexture(stage, textures[stage].get());
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(1, D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP);

    const auto renderState = [&](D3DRENDERSTATETYPE state) {
        DWORD value = 0;
        device->GetRenderState(state, &value);
        return value;
    };
    const auto samplerState = [&](DWORD stage, D3DSAMPLERSTATETYPE state) {
        DWORD value = 0;
        device->GetSamplerState(stage, state, &value);
        return value;
    };
    const auto textureAt = [&](DWORD stage) {
        Ref<IDirect3DBaseTexture9> texture;
        device->GetTexture(stage, texture.out());
        return static_cast<void*>(texture.get());
    };

    FloatTarget target(device.get(), 2, 2);
    useQuad(-2, 2, 2, -2);
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
    ASSERT_EQ(passes, 2u);
    ASSERT_EQ(effect->BeginPass(0), S_OK);
    EXPECT_NE(currentProgram(device.get()), before);
    EXPECT_EQ(renderState(D3DRS_CULLMODE), D3DCULL_NONE);
    EXPECT_EQ(renderState(D3DRS_ZENABLE), DWORD{TRUE});
    EXPECT_EQ(renderState(D3DRS_ZWRITEENABLE), DWORD{TRUE});
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD{TRUE});
    EXPECT_EQ(renderState(D3DRS_SRCBLEND), D3DBLEND_SRCALPHA);
    EXPECT_EQ(renderState(D3DRS_DESTBLEND), D3DBLEND_INVSRCALPHA);
    EXPECT_EQ(textureAt(0), textures[3].get());
    EXPECT_EQ(textureAt(1), textures[4].get());
    EXPECT_EQ(textureAt(2), textures[2].get()); // a stage the effect does not use
    EXPECT_EQ(samplerState(0, D3DSAMP_MAGFILTER), D3DTEXF_POINT);
    EXPECT_EQ(samplerState(0, D3DSAMP_ADDRESSU), D3DTADDRESS_WRAP);
    EXPECT_EQ(samplerState(1, D3DSAMP_MINFILTER), D3DTEXF_LINEAR);
    EXPECT_EQ(samplerState(1, D3DSAMP_ADDRESSW), D3DTADDRESS_CLAMP);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    effect->EndPass();
    ASSERT_EQ(effect->BeginPass(1), S_OK);
    EXPECT_EQ(renderState(D3DRS_CULLMODE), D3DCULL_CCW);
    EXPECT_EQ(renderState(D3DRS_ZENABLE), DWORD{TRUE}); // pass 1 leaves what pass 0 set
    EXPECT_EQ(renderState(D3DRS_SRCBLEND), D3DBLEND_ONE);
    EXPECT_EQ(renderState(D3DRS_DESTBLEND), D3DBLEND_ONE);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    effect->EndPass();
    ASSERT_EQ(effect->End(), S_OK);

    EXPECT_EQ(currentProgram(device.get()), before);
    for (const auto& [state, value] : renderStates) {
        EXPECT_EQ(renderState(state), value) << "render state " << state;
    }
    for (DWORD stage = 0; stage < 3; ++stage)
        EXPECT_EQ(textureAt(stage), textures[stage].get());
    EXPECT_EQ(samplerState(0, D3DSAMP_MAGFILTER), D3DTEXF_LINEAR);
    EXPECT_EQ(samplerState(0, D3DSAMP_ADDRESSU), D3DTADDRESS_CLAMP);
    EXPECT_EQ(samplerState(1, D3DSAMP_MINFILTER), D3DTEXF_POINT);
    EXPECT_EQ(samplerState(1, D3DSAMP_ADDRESSW), D3DTADDRESS_WRAP);

    // Without saving, the last pass's state stays.
    ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), S_OK);
    effect->BeginPass(0);
    effect->EndPass();
    effect->End();
    EXPECT_EQ(renderState(D3DRS_CULLMODE), D3DCULL_NONE);
    EXPECT_EQ(textureAt(0), textures[3].get());
    EXPECT_NE(currentProgram(device.get()), before);

    // Releasing the effect leaves no deleted program current.
    created.effect.reset();
    EXPECT_EQ(currentProgram(device.get()), 0u);
    deleteProgram(device.get(), before);
}

TEST_F(Effects, CallsOutOfOrderFailAndChangeNothing) {
    const EffectFile file("order.fx", statesEffect);
    Creation created = createEffect(device.get(), file.path());
    ASSERT_EQ(created.result, S_OK) << created.errors;
    ID3DXEffect* effect = created.effect.get();

    EXPECT_EQ(refusalOf(effect->BeginPass(0)), Refusal::OutsideBegin);
    EXPECT_EQ(refusalOf(effect->EndPass()), Refusal::NoPassOpen);
    EXPECT_EQ(refusalOf(effect->End()), Refusal::OutsideBegin);
    EXPECT_EQ(refusalOf(effect->Begin(nullptr, 0x40)), Refusal::UnsupportedBeginFlags);
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), S_OK);
    EXPECT_EQ(refusalOf(effect->Begin(&passes, 0)), Refusal::InsideBegin);
    EXPECT_EQ(refusalOf(effect->SetTechnique("states")), Refusal::InsideBegin);
    EXPECT_EQ(refusalOf(effect->BeginPass(2)), Refusal::PassOutOfRange);
    DWORD cull = 0;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, DWORD{D3DCULL_CCW}); // the failed BeginPass set nothing
    ASSERT_EQ(effect->BeginPass(0), S_OK);
    EXPECT_EQ(refusalOf(effect->BeginPass(1)), Refusal::PassOpen);
    EXPECT_EQ(effect->EndPass(), S_OK);
    EXPECT_EQ(effect->End(), S_OK);
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, DWORD{D3DCULL_CCW});
}

// Semantic errors in a common block, a vertex block and a fragment block, and a link error.
TEST_F(Effects, CompileErrorsNameTheEffectFileLines) {
    const EffectFile file("broken.fx", R"(@param float g_f
@common
float helper() { return undefinedInCommon; }
@end
@vs v
layout(location = 0) in vec4 position;
void main() {
    gl_Position = position * undefinedInVertex;
}
@end
@fs f
layout(location = 0) out vec4 color;
void main() { color = vec4(g_f) + undefinedInFragment; }
@end
@technique t
@pass p vs=v fs=f
)");
    const Creation created = createEffect(device.get(), file.path(), 0x205);
    EXPECT_TRUE(FAILED(created.result));
    EXPECT_FALSE(created.effect);
    const std::vector<std::string> lines = linesOf(created.errors);
    ASSERT_FALSE(lines.empty());
    bool seen[3] = {false, false, false};
    for (const std::string& line : lines) {
        const std::string common = file.path() + "(3): error: ";
        const std::string vertex = file.path() + "(8): error: ";
        const std::string fragment = file.path() + "(13): error: ";
        seen[0] |= line.starts_with(common) && line.find("undefinedInCommon") != line.npos;
        seen[1] |= line.starts_with(vertex) && line.find("undefinedInVertex") != line.npos;
        seen[2] |= line.starts_with(fragment) && line.find("undefinedInFragment") != line.npos;
        EXPECT_TRUE(line.starts_with(common) || line.starts_with(vertex) ||
                    line.starts_with(fragment))
            << line;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]) << created.errors;

    const EffectFile unlinked("unlinked.fx", R"(@vs v
layout(location = 0) in vec4 position;
void main() { gl_Position = position; }
@end
@fs f
in vec3 neverWritten;
layout(location = 0) out vec4 color;
void main() { color = vec4(neverWritten, 1.0); }
@end
@technique t
@pass p vs=v fs=f
)");
    const Creation link = createEffect(device.get(), unlinked.path());
    EXPECT_TRUE(FAILED(link.result));
    EXPECT_TRUE(link.errors.starts_with(unlinked.path() + "(11): ")) << link.errors;
    EXPECT_NE(link.errors.find("neverWritten"), std::string::npos) << link.errors;
}

TEST_F(Effects, FilesThatCannotBeUsedFailWithOurOwnMessage) {
    const std::string missing =
        (std::filesystem::path(::testing::TempDir()) / "gorvane_no_such_effect.fx").string();
    const Creation notThere = createEffect(device.get(), missing);
    EXPECT_TRUE(FAILED(notThere.result));
    EXPECT_FALSE(notThere.effect);
    EXPECT_EQ(notThere.errors,
              missing + ": error: cannot open the file (No such file or directory)\n");

    const EffectFile empty("empty.fx", "");
    EXPECT_EQ(createEffect(device.get(), empty.path()).errors,
              empty.path() + ": error: the file is empty\n");

    const EffectFile typo("typo.fx", "@vs v\n@end\n@fs f\n@end\n@tecnique t\n");
    const Creation misspelt = createEffect(device.get(), typo.path());
    EXPECT_TRUE(FAILED(misspelt.result));
    EXPECT_EQ(misspelt.errors, typo.path() + "(5): error: unknown keyword '@tecnique'\n");

    // Flags without a GL meaning are accepted; others, macros, includes and pools are refused.
    const EffectFile good("good.fx", statesEffect);
    EXPECT_EQ(createEffect(device.get(), good.path(), 0x205).result, S_OK);
    EXPECT_EQ(createEffect(device.get(), good.path(), 0).result, S_OK);
    const Creation badFlags = createEffect(device.get(), good.path(), 0x800);
    EXPECT_EQ(badFlags.result, D3DERR_INVALIDCALL);
    EXPECT_EQ(badFlags.errors, good.path() + ": error: unsupported compile flags 0x800\n");
    const D3DXMACRO macros[] = {{"FAST", "1"}, {nullptr, nullptr}};
    ID3DXEffect* effect = nullptr;
    EXPECT_EQ(D3DXCreateEffectFromFileA(device.get(), good.path().c_str(), macros, nullptr, 0,
                                        nullptr, &effect, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(effect, nullptr);
    const D3DXMACRO noMacros[] = {{nullptr, nullptr}};
    EXPECT_EQ(D3DXCreateEffectFromFileA(device.get(), good.path().c_str(), noMacros, nullptr, 0,
                                        nullptr, &effect, nullptr),
              S_OK);
    effect->Release();
}

} // namespace
} // namespace d3d9gl::test
