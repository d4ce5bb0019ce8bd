// Fills and DDS volume loads, checked against what GL holds afterwards: each texel read back
// from the GL texture is compared with the value the test computes itself.
#include "platform/d3d9/d3dx9.h"
#include "platform/d3d9/gl_device.h"
#include "platform/d3d9/tests/gl_test_support.h"
#include "platform/d3d9/tests/refusal_of.h"
#include "platform/d3d9/texel_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using d3d9gl::Refusal;
using d3d9gl::refusalOf;

class D3DXTextureTest : public testing::Test {
  protected:
    void SetUp() override {
        deviceRef = d3d9gl::test::makeHeadlessDevice(16, 16);
        ASSERT_TRUE(deviceRef);
        device = deviceRef.get();
    }

    // Level `level` as GL holds it, four floats per texel, x fastest.
    std::vector<float> readFloats(IDirect3DBaseTexture9* texture, UINT level, std::size_t texels) {
        d3d9gl::bindThreadContext(device);
        std::vector<float> out(4 * texels, -99.0f);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTextureImage(d3d9gl::textureName(texture), GLint(level), GL_RGBA, GL_FLOAT,
                          GLsizei(out.size() * sizeof(float)), out.data());
        return out;
    }
    // An A8R8G8B8 level as GL holds it, bytes B, G, R, A per texel.
    std::vector<std::uint8_t> readBgra(IDirect3DBaseTexture9* texture, UINT level,
                                       std::size_t texels) {
        d3d9gl::bindThreadContext(device);
        std::vector<std::uint8_t> out(4 * texels);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTextureImage(d3d9gl::textureName(texture), GLint(level), GL_BGRA, GL_UNSIGNED_BYTE,
                          GLsizei(out.size()), out.data());
        return out;
    }

    d3d9gl::test::Ref<IDirect3DDevice9> deviceRef;
    IDirect3DDevice9* device = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Fills
// ---------------------------------------------------------------------------------------------

// What a fill callback saw: one entry per call, in call order.
struct FillCall {
    float u, v, w;    // texel centre
    float du, dv, dw; // texel size
};

// Values that differ per texel and leave [0, 1] on some components.
D3DXVECTOR4 fillValue(float u, float v, float w, float du) {
    return {u, v - 0.25f, w + du, 1.5f - u - v};
}

void fill2D(D3DXVECTOR4* out, const D3DXVECTOR2* centre, const D3DXVECTOR2* size, void* data) {
    static_cast<std::vector<FillCall>*>(data)->push_back(
        {centre->x, centre->y, 0.0f, size->x, size->y, 0.0f});
    *out = fillValue(centre->x, centre->y, 0.0f, size->x);
}

void fill3D(D3DXVECTOR4* out, const D3DXVECTOR3* centre, const D3DXVECTOR3* size, void* data) {
    static_cast<std::vector<FillCall>*>(data)->push_back(
        {centre->x, centre->y, centre->z, size->x, size->y, size->z});
    *out = fillValue(centre->x, centre->y, centre->z, size->x);
}

struct LevelSize {
    UINT width, height, depth;
    std::size_t texels() const { return std::size_t(width) * height * depth; }
};

std::vector<LevelSize> mipChain(UINT width, UINT height, UINT depth) {
    std::vector<LevelSize> levels{{width, height, depth}};
    while (width > 1 || height > 1 || depth > 1) {
        width = std::max(1u, width / 2), height = std::max(1u, height / 2);
        depth = std::max(1u, depth / 2);
        levels.push_back({width, height, depth});
    }
    return levels;
}

// Every texel of every level was visited exactly once with Direct3D's centre and size, and the
// program's rule trunc((u - du/2) * width) recovers the texel's index.
void expectOneCallPerTexel(const std::vector<FillCall>& calls,
                           const std::vector<LevelSize>& levels) {
    std::size_t total = 0;
    for (const LevelSize& level : levels)
        total += level.texels();
    ASSERT_EQ(calls.size(), total);
    std::size_t at = 0;
    for (const LevelSize& level : levels) {
        std::map<std::tuple<UINT, UINT, UINT>, int> visits;
        for (std::size_t n = 0; n < level.texels(); ++n, ++at) {
            const FillCall& call = calls[at];
            ASSERT_EQ(call.du, 1.0f / level.width);
            ASSERT_EQ(call.dv, 1.0f / level.height);
            const auto i = static_cast<UINT>(std::trunc((call.u - call.du / 2) * level.width));
            const auto j = static_cast<UINT>(std::trunc((call.v - call.dv / 2) * level.height));
            UINT k = 0;
            if (level.depth > 1 || call.dw != 0.0f) {
                ASSERT_EQ(call.dw, 1.0f / level.depth);
                k = static_cast<UINT>(std::trunc((call.w - call.dw / 2) * level.depth));
                ASSERT_DOUBLE_EQ(call.w, (k + 0.5) / level.depth);
            }
            ASSERT_DOUBLE_EQ(call.u, (i + 0.5) / level.width);
            ASSERT_DOUBLE_EQ(call.v, (j + 0.5) / level.height);
            ++visits[{i, j, k}];
        }
        EXPECT_EQ(visits.size(), level.texels());
    }
}

TEST_F(D3DXTextureTest, FillTextureVisitsEveryTexelOfEveryLevelAndStoresItsValue) {
    const std::vector<LevelSize> levels = mipChain(16, 4, 1); // 16x4, 8x2, 4x1, 2x1, 1x1
    for (D3DFORMAT format :
         {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, D3DFMT_R32F, D3DFMT_A8R8G8B8}) {
        SCOPED_TRACE(format);
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device->CreateTexture(16, 4, 0, 0, format, D3DPOOL_MANAGED, &texture, nullptr),
                  S_OK);
        ASSERT_EQ(texture->GetLevelCount(), levels.size());
        std::vector<FillCall> calls;
        ASSERT_EQ(D3DXFillTexture(texture, fill2D, &calls), S_OK);
        expectOneCallPerTexel(calls, levels);

        for (UINT l = 0; l < levels.size(); ++l) {
            const LevelSize& level = levels[l];
            const auto floats = readFloats(texture, l, level.texels());
            const auto bytes = format == D3DFMT_A8R8G8B8 ? readBgra(texture, l, level.texels())
                                                         : std::vector<std::uint8_t>();
            for (UINT j = 0; j < level.height; ++j)
                for (UINT i = 0; i < level.width; ++i) {
                    const std::size_t t = std::size_t(j) * level.width + i;
                    const D3DXVECTOR4 e =
                        fillValue(float((i + 0.5) / level.width), float((j + 0.5) / level.height),
                                  0.0f, float(1.0 / level.width));
                    const float expected[4] = {e.x, e.y, e.z, e.w};
                    if (format == D3DFMT_A8R8G8B8) {
                        for (int c = 0; c < 4; ++c) {
                            const float clamped = std::clamp(expected[c], 0.0f, 1.0f);
                            const int byte = bytes[4 * t + (c == 3 ? 3 : 2 - c)];
                            EXPECT_NEAR(byte, clamped * 255.0f, 0.5f + 1e-3f) << i << "," << j;
                        }
                        continue;
                    }
                    const int channels = format == D3DFMT_R32F ? 1 : 4;
                    const float tolerance = format == D3DFMT_A16B16G16R16F ? 1.0f / 1024 : 0.0f;
                    for (int c = 0; c < channels; ++c)
                        EXPECT_NEAR(floats[4 * t + c], expected[c],
                                    tolerance * std::max(1.0f, std::fabs(expected[c])))
                            << "level " << l << " texel " << i << "," << j << " channel " << c;
                }
        }
        texture->Release();
    }
}

TEST_F(D3DXTextureTest, FillVolumeTextureVisitsEveryTexelOfEveryLevelAndStoresItsValue) {
    const std::vector<LevelSize> levels = mipChain(8, 4, 16);
    IDirect3DVolumeTexture9* volume = nullptr;
    ASSERT_EQ(device->CreateVolumeTexture(8, 4, 16, 0, 0, D3DFMT_A16B16G16R16F, D3DPOOL_MANAGED,
                                          &volume, nullptr),
              S_OK);
    ASSERT_EQ(volume->GetLevelCount(), levels.size());
    std::vector<FillCall> calls;
    ASSERT_EQ(D3DXFillVolumeTexture(volume, fill3D, &calls), S_OK);
    expectOneCallPerTexel(calls, levels);

    for (UINT l = 0; l < levels.size(); ++l) {
        const LevelSize& level = levels[l];
        const auto floats = readFloats(volume, l, level.texels());
        for (UINT k = 0; k < level.depth; ++k)
            for (UINT j = 0; j < level.height; ++j)
                for (UINT i = 0; i < level.width; ++i) {
                    const std::size_t t = (std::size_t(k) * level.height + j) * level.width + i;
                    const D3DXVECTOR4 e =
                        fillValue(float((i + 0.5) / level.width), float((j + 0.5) / level.height),
                                  float((k + 0.5) / level.depth), float(1.0 / level.width));
                    const float expected[4] = {e.x, e.y, e.z, e.w};
                    for (int c = 0; c < 4; ++c)
                        EXPECT_NEAR(floats[4 * t + c], expected[c],
                                    std::max(1.0f, std::fabs(expected[c])) / 1024)
                            << "level " << l << " texel " << i << "," << j << "," << k;
                }
    }
    volume->Release();
}

TEST_F(D3DXTextureTest, FillRefusesFormatsItCannotWriteBeforeAnyCallback) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr),
              S_OK);
    std::vector<FillCall> calls;
    EXPECT_EQ(refusalOf(D3DXFillTexture(texture, fill2D, &calls)), Refusal::LevelNotWritable);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(refusalOf(D3DXFillTexture(texture, nullptr, nullptr)), Refusal::NoFunction);
    texture->Release();
}

// ---------------------------------------------------------------------------------------------
// DDS volumes
// ---------------------------------------------------------------------------------------------

constexpr std::uint32_t DDSD_CAPS = 0x1, DDSD_HEIGHT = 0x2, DDSD_WIDTH = 0x4,
                        DDSD_PIXELFORMAT = 0x1000, DDSD_DEPTH = 0x800000;
constexpr std::uint32_t DDPF_ALPHAPIXELS = 0x1, DDPF_FOURCC = 0x4, DDPF_RGB = 0x40,
                        DDPF_LUMINANCE = 0x20000;
constexpr std::uint32_t DDSCAPS_TEXTURE = 0x1000, DDSCAPS_COMPLEX = 0x8;
constexpr std::uint32_t DDSCAPS2_CUBEMAP = 0x200, DDSCAPS2_VOLUME = 0x200000;

// Byte positions of header fields in the file (after the 4-byte magic).
constexpr std::size_t headerSizeAt = 4, widthAt = 16, heightAt = 12, depthAt = 24,
                      pixelFormatSizeAt = 76, pixelFlagsAt = 80, fourCCAt = 84, bitCountAt = 88,
                      caps2At = 112, dx10At = 128;

enum class SourceFormat {
    A8R8G8B8,
    L8,
    A16B16G16R16F,
    A32B32G32R32F,
    DX10Bgra,
    DX10Half,
    DX10Float
};

struct DdsFile {
    std::vector<std::uint8_t> bytes;

    void put(std::size_t at, std::uint32_t value) { std::memcpy(&bytes[at], &value, 4); }
    std::uint32_t get(std::size_t at) const {
        std::uint32_t value;
        std::memcpy(&value, &bytes[at], 4);
        return value;
    }
};

// A volume file of w x h x d texels whose decoded values are `values` (four per texel, already
// representable in the format); the decoded values are what a loader must produce.
DdsFile makeDds(SourceFormat format, std::uint32_t w, std::uint32_t h, std::uint32_t d,
                const std::vector<float>& values) {
    DdsFile file;
    file.bytes.assign(128, 0);
    std::memcpy(file.bytes.data(), "DDS ", 4);
    file.put(headerSizeAt, 124);
    file.put(8, DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_DEPTH);
    file.put(heightAt, h);
    file.put(widthAt, w);
    file.put(depthAt, d);
    file.put(pixelFormatSizeAt, 32);
    file.put(108, DDSCAPS_TEXTURE | DDSCAPS_COMPLEX);
    file.put(caps2At, DDSCAPS2_VOLUME);
    auto dx10 = [&file](std::uint32_t dxgiFormat) {
        file.put(pixelFlagsAt, DDPF_FOURCC);
        std::memcpy(&file.bytes[fourCCAt], "DX10", 4);
        file.bytes.resize(148, 0);
        file.put(dx10At, dxgiFormat);
        file.put(dx10At + 4, 4); // TEXTURE3D
        file.put(dx10At + 12, 1);
    };
    switch (format) {
    case SourceFormat::A8R8G8B8:
        file.put(pixelFlagsAt, DDPF_RGB | DDPF_ALPHAPIXELS);
        file.put(bitCountAt, 32);
        file.put(92, 0x00FF0000), file.put(96, 0x0000FF00), file.put(100, 0x000000FF);
        file.put(104, 0xFF000000);
        break;
    case SourceFormat::L8:
        file.put(pixelFlagsAt, DDPF_LUMINANCE);
        file.put(bitCountAt, 8);
        file.put(92, 0xFF);
        break;
    case SourceFormat::A16B16G16R16F:
        file.put(pixelFlagsAt, DDPF_FOURCC), file.put(fourCCAt, 113);
        break;
    case SourceFormat::A32B32G32R32F:
        file.put(pixelFlagsAt, DDPF_FOURCC), file.put(fourCCAt, 116);
        break;
    case SourceFormat::DX10Bgra:
        dx10(87);
        break;
    case SourceFormat::DX10Half:
        dx10(10);
        break;
    case SourceFormat::DX10Float:
        dx10(2);
        break;
    }
    for (std::size_t t = 0; t < values.size() / 4; ++t) {
        const float* v = &values[4 * t];
        switch (format) {
        case SourceFormat::A8R8G8B8:
        case SourceFormat::DX10Bgra:
            for (int c : {2, 1, 0, 3})
                file.bytes.push_back(std::uint8_t(std::lround(v[c] * 255)));
            break;
        case SourceFormat::L8:
            file.bytes.push_back(std::uint8_t(std::lround(v[0] * 255)));
            break;
        case SourceFormat::A16B16G16R16F:
        case SourceFormat::DX10Half:
            for (int c = 0; c < 4; ++c) {
                const std::uint16_t half = d3dx::floatToHalf(v[c]);
                file.bytes.insert(file.bytes.end(), {std::uint8_t(half), std::uint8_t(half >> 8)});
            }
            break;
        case SourceFormat::A32B32G32R32F:
        case SourceFormat::DX10Float: {
            const auto* raw = reinterpret_cast<const std::uint8_t*>(v);
            file.bytes.insert(file.bytes.end(), raw, raw + 16);
            break;
        }
        }
    }
    return file;
}

// Decoded texel values that every source format represents exactly (n/255 for the byte
// formats, also exact in halves to within their precision), distinct per texel.
std::vector<float> sourceValues(SourceFormat format, std::size_t texels) {
    std::vector<float> values;
    for (std::size_t t = 0; t < texels; ++t) {
        const float a = float((t * 37) % 256) / 255, b = float((t * 11 + 5) % 256) / 255;
        const float c = float((t * 3 + 100) % 256) / 255, d = float((t * 53 + 7) % 256) / 255;
        if (format == SourceFormat::L8)
            values.insert(values.end(), {a, a, a, 1.0f});
        else
            values.insert(values.end(), {a, b, c, d});
    }
    if (format == SourceFormat::A16B16G16R16F || format == SourceFormat::DX10Half)
        for (float& v : values)
            v = d3dx::halfToFloat(d3dx::floatToHalf(v));
    return values;
}

std::string writeTemp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

class D3DXVolumeLoadTest : public D3DXTextureTest {
  protected:
    // A managed volume texture of one level, filled with a recognisable pattern.
    IDirect3DVolumeTexture9* makeVolume(UINT w, UINT h, UINT d, D3DFORMAT format) {
        IDirect3DVolumeTexture9* texture = nullptr;
        EXPECT_EQ(
            device->CreateVolumeTexture(w, h, d, 1, 0, format, D3DPOOL_MANAGED, &texture, nullptr),
            S_OK);
        std::vector<FillCall> calls;
        EXPECT_EQ(D3DXFillVolumeTexture(texture, fill3D, &calls), S_OK);
        return texture;
    }
    HRESULT load(IDirect3DVolumeTexture9* texture, const std::string& path,
                 const D3DBOX* destBox = nullptr, const D3DBOX* srcBox = nullptr,
                 DWORD filter = D3DX_DEFAULT, D3DXIMAGE_INFO* info = nullptr) {
        IDirect3DVolume9* level = nullptr;
        EXPECT_EQ(texture->GetVolumeLevel(0, &level), S_OK);
        const HRESULT hr =
            D3DXLoadVolumeFromFileA(level, nullptr, destBox, path.c_str(), srcBox, filter, 0, info);
        level->Release();
        return hr;
    }
};

TEST_F(D3DXVolumeLoadTest, EverySourceFormatLoadsIntoEveryVolumeFormat) {
    const UINT w = 4, h = 2, d = 3;
    const std::pair<SourceFormat, const char*> sources[] = {
        {SourceFormat::A8R8G8B8, "A8R8G8B8"},
        {SourceFormat::L8, "L8"},
        {SourceFormat::A16B16G16R16F, "A16B16G16R16F"},
        {SourceFormat::A32B32G32R32F, "A32B32G32R32F"},
        {SourceFormat::DX10Bgra, "DX10 B8G8R8A8_UNORM"},
        {SourceFormat::DX10Half, "DX10 R16G16B16A16_FLOAT"},
        {SourceFormat::DX10Float, "DX10 R32G32B32A32_FLOAT"}};
    for (const auto& [source, name] : sources) {
        const std::vector<float> values = sourceValues(source, w * h * d);
        const std::string path =
            writeTemp("round_trip.dds", makeDds(source, w, h, d, values).bytes);
        for (D3DFORMAT destination :
             {D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, D3DFMT_A8R8G8B8}) {
            SCOPED_TRACE(std::string(name) + " into format " + std::to_string(destination));
            IDirect3DVolumeTexture9* volume = makeVolume(w, h, d, destination);
            D3DXIMAGE_INFO info{};
            ASSERT_EQ(load(volume, path, nullptr, nullptr, D3DX_DEFAULT, &info), S_OK);
            EXPECT_EQ(info.Width, w);
            EXPECT_EQ(info.Height, h);
            EXPECT_EQ(info.Depth, d);
            EXPECT_EQ(info.ResourceType, D3DRTYPE_VOLUMETEXTURE);
            EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
            const auto loaded = readFloats(volume, 0, w * h * d);
            const float tolerance = destination == D3DFMT_A32B32G32R32F   ? 1e-6f
                                    : destination == D3DFMT_A16B16G16R16F ? 1.0f / 2048
                                                                          : 0.5f / 255;
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_NEAR(loaded[i], values[i], tolerance) << "texel " << i / 4;
            volume->Release();
        }
    }
}

TEST_F(D3DXVolumeLoadTest, ABiggerFileIsBoxFilteredToTheVolumeSize) {
    // 8 x 4 x 6 onto 4 x 2 x 3: each texel averages a 2 x 2 x 2 block.
    const std::vector<float> values = sourceValues(SourceFormat::A32B32G32R32F, 8 * 4 * 6);
    const std::string path =
        writeTemp("bigger.dds", makeDds(SourceFormat::A32B32G32R32F, 8, 4, 6, values).bytes);
    IDirect3DVolumeTexture9* volume = makeVolume(4, 2, 3, D3DFMT_A32B32G32R32F);
    ASSERT_EQ(load(volume, path), S_OK);
    const auto loaded = readFloats(volume, 0, 4 * 2 * 3);
    for (UINT z = 0; z < 3; ++z)
        for (UINT y = 0; y < 2; ++y)
            for (UINT x = 0; x < 4; ++x)
                for (int c = 0; c < 4; ++c) {
                    float sum = 0;
                    for (UINT k = 2 * z; k < 2 * z + 2; ++k)
                        for (UINT j = 2 * y; j < 2 * y + 2; ++j)
                            for (UINT i = 2 * x; i < 2 * x + 2; ++i)
                                sum += values[4 * ((k * 4 + j) * 8 + i) + c];
                    EXPECT_NEAR(loaded[4 * ((z * 2 + y) * 4 + x) + c], sum / 8, 1e-6f);
                }
    volume->Release();
}

TEST_F(D3DXVolumeLoadTest, BoxesSelectTheSourceRegionAndTheTexelsWritten) {
    const std::vector<float> values = sourceValues(SourceFormat::A32B32G32R32F, 4 * 4 * 4);
    const std::string path =
        writeTemp("boxes.dds", makeDds(SourceFormat::A32B32G32R32F, 4, 4, 4, values).bytes);
    IDirect3DVolumeTexture9* volume = makeVolume(4, 4, 4, D3DFMT_A32B32G32R32F);
    const auto before = readFloats(volume, 0, 64);
    const D3DBOX source{1, 0, 3, 2, 2, 3};      // x 1..2, y 0..1, z 2
    const D3DBOX destination{0, 2, 2, 4, 1, 2}; // x 0..1, y 2..3, z 1
    ASSERT_EQ(load(volume, path, &destination, &source, D3DX_FILTER_BOX), S_OK);
    const auto after = readFloats(volume, 0, 64);
    for (UINT z = 0; z < 4; ++z)
        for (UINT y = 0; y < 4; ++y)
            for (UINT x = 0; x < 4; ++x) {
                const std::size_t t = (z * 4 + y) * 4 + x;
                const bool inside = x < 2 && y >= 2 && z == 1;
                const std::size_t from = ((2 * 4) + (y - 2)) * 4 + (x + 1);
                for (int c = 0; c < 4; ++c)
                    EXPECT_EQ(after[4 * t + c], inside ? values[4 * from + c] : before[4 * t + c])
                        << x << "," << y << "," << z;
            }
    volume->Release();
}

TEST_F(D3DXVolumeLoadTest, BadFilesAndArgumentsFailAndLeaveTheVolumeAsItWas) {
    const std::vector<float> values = sourceValues(SourceFormat::A8R8G8B8, 4 * 4 * 4);
    const DdsFile good = makeDds(SourceFormat::A8R8G8B8, 4, 4, 4, values);
    auto changed = [&good](const std::function<void(DdsFile&)>& change) {
        DdsFile file = good;
        change(file);
        return file.bytes;
    };
    auto changedDx10 = [](const std::function<void(DdsFile&)>& change) {
        DdsFile file = makeDds(SourceFormat::DX10Float, 1, 1, 1, {0.0f, 0.0f, 0.0f, 0.0f});
        change(file);
        return file.bytes;
    };
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> badFiles = {
        {"empty", {}},
        {"magic only", {'D', 'D', 'S', ' '}},
        {"header cut short", changed([](DdsFile& f) { f.bytes.resize(100); })},
        {"no texels", changed([](DdsFile& f) { f.bytes.resize(128); })},
        {"last texel cut short", changed([](DdsFile& f) { f.bytes.pop_back(); })},
        {"wrong magic", changed([](DdsFile& f) { f.bytes[3] = '!'; })},
        {"wrong header size", changed([](DdsFile& f) { f.put(headerSizeAt, 123); })},
        {"wrong pixel format size", changed([](DdsFile& f) { f.put(pixelFormatSizeAt, 0); })},
        {"zero width", changed([](DdsFile& f) { f.put(widthAt, 0); })},
        {"zero depth", changed([](DdsFile& f) { f.put(depthAt, 0); })},
        {"huge extent", changed([](DdsFile& f) { f.put(widthAt, 0x80000000u); })},
        {"too many texels", changed([](DdsFile& f) {
             f.put(widthAt, 2048), f.put(heightAt, 2048), f.put(depthAt, 2048);
         })},
        {"compressed format", changed([](DdsFile& f) {
             f.put(pixelFlagsAt, DDPF_FOURCC);
             std::memcpy(&f.bytes[fourCCAt], "DXT1", 4);
         })},
        {"24-bit RGB", changed([](DdsFile& f) { f.put(bitCountAt, 24); })},
        {"not a volume", changed([](DdsFile& f) { f.put(caps2At, 0); })},
        {"cube map",
         changed([](DdsFile& f) { f.put(caps2At, DDSCAPS2_CUBEMAP | DDSCAPS2_VOLUME); })},
        {"DX10 header cut short", changedDx10([](DdsFile& f) { f.bytes.resize(140); })},
        {"DX10 2D texture", changedDx10([](DdsFile& f) { f.put(dx10At + 4, 3); })},
        {"DX10 compressed format", changedDx10([](DdsFile& f) { f.put(dx10At, 71); })},
    };

    IDirect3DVolumeTexture9* volume = makeVolume(4, 4, 4, D3DFMT_A16B16G16R16F);
    const auto before = readFloats(volume, 0, 64);
    for (const auto& [name, bytes] : badFiles) {
        SCOPED_TRACE(name);
        EXPECT_EQ(load(volume, writeTemp("bad.dds", bytes)), D3DXERR_INVALIDDATA);
        ASSERT_EQ(readFloats(volume, 0, 64), before);
    }

    const std::string goodPath = writeTemp("good.dds", good.bytes);
    const D3DBOX outside{0, 0, 0, 5, 4, 4};
    const D3DBOX empty{2, 0, 0, 2, 4, 4};
    EXPECT_EQ(load(volume, (std::filesystem::path(testing::TempDir()) / "absent.dds").string()),
              D3DERR_NOTFOUND);
    EXPECT_EQ(refusalOf(load(volume, goodPath, nullptr, &outside)), Refusal::BoxOutsideImage);
    EXPECT_EQ(refusalOf(load(volume, goodPath, &outside)), Refusal::BoxOutsideVolume);
    EXPECT_EQ(refusalOf(load(volume, goodPath, &empty)), Refusal::BoxOutsideVolume);
    EXPECT_EQ(refusalOf(load(volume, goodPath, nullptr, nullptr, 2 /* D3DX_FILTER_POINT */)),
              Refusal::UnsupportedFilter);
    IDirect3DVolume9* level = nullptr;
    ASSERT_EQ(volume->GetVolumeLevel(0, &level), S_OK);
    EXPECT_EQ(
        refusalOf(D3DXLoadVolumeFromFileA(level, nullptr, nullptr, goodPath.c_str(), nullptr,
                                          D3DX_DEFAULT, D3DCOLOR_ARGB(255, 0, 0, 0), nullptr)),
        Refusal::ColorKey);
    level->Release();
    EXPECT_EQ(readFloats(volume, 0, 64), before);

    // The same file, intact, does load.
    EXPECT_EQ(load(volume, goodPath), S_OK);
    EXPECT_NE(readFloats(volume, 0, 64), before);
    volume->Release();
}

} // namespace
