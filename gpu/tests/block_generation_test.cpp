// The GPU block pass against independent results: CPU marching cubes over the same density,
// the density's layout and continuity across blocks, the lookup textures, device loss, and the
// counters and limits of the pass (with effects whose density is made to order).
#include "engine/engine_handles.h"
#include "app/tests/headless_program.h"
#include "cpu/cpu_marching_cubes.h"
#include "gpu/block_generation.h"
#include "gpu/gpu_resources.h"
#include "platform/d3d9/failure_injection.h"
#include "gpu/tests/generation_fixture.h"
#include "platform/d3d9/gl_device.h"
#include "platform/win32/message_box_log.h"
#include "platform/win32/msvcrt.h"
#include "tables/lookup_textures.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

using namespace gorvane::test;

class GpuBlockPass : public testing::Test {
  protected:
    static void TearDownTestSuite() { headless_program::removeDataCopy(); }
    void SetUp() override {
        ASSERT_TRUE(startProgramHeadless());
        ASSERT_NE(generationEffect, nullptr);
        win32::clearMessageBoxHistory();
        d3d9gl::clearCallFailures();
    }
};

// The sample of blocks the comparisons run over: eight in every layer, spread over x and y.
std::vector<BlockJob> sampledBlocks() {
    std::vector<BlockJob> blocks;
    for (int z = 0; z < 8; ++z)
        for (int i = 0; i < 8; ++i)
            blocks.push_back({0, (3 * i + z) % 8, (5 * i + 3 * z) % 8, z});
    return blocks;
}

// Trilinear density of `slot` at a point of the block frame (vertex coordinates).
float densityAtVertex(int slot, const float position[3]) {
    const float grid[3] = {position[0] + 32, position[2] + 32, position[1] + 32};
    int base[3];
    float f[3];
    for (int a = 0; a < 3; ++a) {
        base[a] = std::min(62, std::max(0, static_cast<int>(std::floor(grid[a]))));
        f[a] = grid[a] - static_cast<float>(base[a]);
    }
    float sum = 0;
    for (int corner = 0; corner < 8; ++corner) {
        float weight = 1;
        int g[3];
        for (int a = 0; a < 3; ++a) {
            const int bit = (corner >> a) & 1;
            g[a] = base[a] + bit;
            weight *= bit ? f[a] : 1 - f[a];
        }
        sum += weight * DensityReadback[slot][densitySampleIndex(g[0], g[1], g[2])];
    }
    return sum;
}

TEST_F(GpuBlockPass, GpuTrianglesAreTheCpuMarchingCubesTriangles) {
    int layersWithSurface = 0;
    int emptyBlocks = 0;
    for (int layer = 0; layer < 8; ++layer) {
        bool surface = false;
        for (const BlockJob& sample : sampledBlocks()) {
            if (sample.z != layer) continue;
            SCOPED_TRACE(testing::Message() << "block " << sample.x << "," << sample.y << ","
                                            << sample.z);
            const std::int32_t t = generateIn(CpuMeshGpuDensity, sample);
            buildBlockOnCpu(0, 0);
            ASSERT_EQ(SlotCpuTriangleCounts[0], t);
            const std::vector<Triangle> cpu = stagedTriangles(0);

            const int block = blockIndex(sample.x, sample.y, sample.z);
            BlockJob gpuJob = sample;
            gpuJob.slot = 1;
            ASSERT_EQ(generateIn(GpuOnly, gpuJob), t);
            if (t == 0) {
                ++emptyBlocks;
                EXPECT_EQ(BlockTriangleCounts[block], 0);
                continue;
            }
            surface = true;
            ID3DXMesh* mesh = BlockMeshes[block];
            ASSERT_NE(mesh, nullptr);
            EXPECT_EQ(mesh->GetNumFaces(), static_cast<DWORD>(t));
            EXPECT_EQ(mesh->GetNumVertices(), static_cast<DWORD>(3 * t));
            EXPECT_EQ(BlockTriangleCounts[block], t);
            EXPECT_EQ(BlockVertexCounts[block], 3 * t);
            std::string why;
            EXPECT_TRUE(sameTriangleSets(cpu, meshTriangles(mesh), 1e-4f, &why)) << why;

            // Unit normals that point out of the ground, towards lower density.
            void* data = nullptr;
            ASSERT_TRUE(SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)));
            const auto* vertices = static_cast<const MeshVertex*>(data);
            int outward = 0;
            for (int v = 0; v < 3 * t; ++v) {
                const float* n = vertices[v].normal;
                EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-3f);
                float out[3], in[3];
                for (int a = 0; a < 3; ++a) {
                    out[a] = vertices[v].position[a] + 0.5f * n[a];
                    in[a] = vertices[v].position[a] - 0.5f * n[a];
                }
                outward += densityAtVertex(0, out) < densityAtVertex(0, in);
                EXPECT_GE(vertices[v].u, 0.0f);
                EXPECT_LE(vertices[v].u, 1.0f);
            }
            mesh->UnlockVertexBuffer();
            EXPECT_GE(outward, 3 * t * 98 / 100);
        }
        layersWithSurface += surface;
    }
    // A terrain, not a slab or a void: ground across several layers, air above it.
    EXPECT_GE(layersWithSurface, 3);
    EXPECT_GE(emptyBlocks, 8);
}

TEST_F(GpuBlockPass, NeighbouringBlocksShareTheirFaceSamples) {
    const int axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const auto& step : axes) {
        generateIn(CpuMeshGpuDensity, {0, 3, 4, 2});
        generateIn(CpuMeshGpuDensity, {1, 3 + step[0], 4 + step[1], 2 + step[2]});
        for (int u = 16; u <= 48; ++u)
            for (int v = 16; v <= 48; ++v) {
                // Grid point 48 of the first block is grid point 16 of the next along the axis.
                int a[3] = {u, v, u}, b[3] = {u, v, u};
                const int axis = step[0] ? 0 : step[1] ? 1 : 2;
                a[axis] = 48;
                b[axis] = 16;
                a[(axis + 1) % 3] = b[(axis + 1) % 3] = u;
                a[(axis + 2) % 3] = b[(axis + 2) % 3] = v;
                ASSERT_EQ(DensityReadback[0][densitySampleIndex(a[0], a[1], a[2])],
                          DensityReadback[1][densitySampleIndex(b[0], b[1], b[2])])
                    << "axis " << axis << " at " << u << "," << v;
            }
    }
}

TEST_F(GpuBlockPass, DensityDependsOnTheBlockPositionAlone) {
    generateIn(CpuMeshGpuDensity, {0, 5, 2, 3});
    std::vector<float> first(DensityReadback[0], DensityReadback[0] + densityFloatsPerSlot);
    generateIn(GpuOnly, {1, 1, 6, 6}); // another block in between, in another mode
    generateIn(CpuMeshGpuDensity, {1, 5, 2, 3});
    EXPECT_EQ(std::memcmp(first.data(), DensityReadback[1], first.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(CubeReadback[0], CubeReadback[1], cubeBytesPerSlot), 0);
}

TEST_F(GpuBlockPass, BlockPositionsFollowTheGrid) {
    const BlockPosition first = blockPosition(0, 0, 0);
    const BlockPosition last = blockPosition(7, 7, 7);
    EXPECT_EQ(first.x, -2.125f);
    EXPECT_EQ(first.z, -2.125f);
    EXPECT_EQ(last.y, 1.375f);
    EXPECT_EQ(first.w, 0.0f);
    EXPECT_EQ(blockPosition(3, 4, 5).y - blockPosition(3, 3, 5).y, 0.5f);
}

// ---------------------------------------------------------------------------------------------
// Effects made to order: the generation effect with its density stage replaced.
// ---------------------------------------------------------------------------------------------

// "createMap.fxo" with the fragment stage `stage` replaced by `code`.
std::string generationEffectWith(const std::string& stage, const std::string& code) {
    std::ifstream file(std::string(GORVANE_DATA_DIR) + "/createMap.fxo");
    std::stringstream text;
    text << file.rdbuf();
    std::string source = text.str();
    const std::size_t begin = source.find("@fs " + stage + "\n");
    const std::size_t end = source.find("@end", begin) + 4;
    return source.replace(begin, end - begin, "@fs " + stage + "\n" + code + "\n@end");
}

// Swaps the generation effect for the duration of a test, by default its density stage.
class SwappedGenerationEffect {
  public:
    explicit SwappedGenerationEffect(const std::string& code,
                                     const std::string& stage = "densityFs") {
        const auto path = std::filesystem::temp_directory_path() /
                          ("gorvane-test-" + std::to_string(::getpid()) + ".fxo");
        std::ofstream(path) << generationEffectWith(stage, code);
        swapped_ = generationEffect;
        generationEffect = createEffectReportingErrors(d3dDevice, path.c_str(), 0);
        std::filesystem::remove(path);
    }
    ~SwappedGenerationEffect() {
        if (generationEffect != nullptr) generationEffect->Release();
        generationEffect = swapped_;
    }
    bool ok() const { return generationEffect != nullptr; }

  private:
    ID3DXEffect* swapped_;
};

TEST_F(GpuBlockPass, EachSliceLandsInItsOwnStripOfColumns) {
    SwappedGenerationEffect effect(R"(
layout(location = 0) out vec4 density;
void main() {
    density = vec4(g_z * 1000.0 + float(int(gl_FragCoord.x) % 64), 0.0, 0.0, 1.0);
})");
    ASSERT_TRUE(effect.ok());
    generateIn(CpuMeshGpuDensity, {0, 1, 1, 1});
    for (int row = 0; row < 64; ++row)
        for (int column = 0; column < 4096; ++column)
            ASSERT_EQ(DensityReadback[0][row * 4096 + column],
                      static_cast<float>(column / 64 * 1000 + column % 64))
                << "row " << row << " column " << column;
}

// Isolated inside points: one inside the block gives 8 single-triangle cells, one on a face 4,
// on an edge 2, at a corner 1. Block x asks for the triangle count targets[x].
const char* const kCountedPointsDensity = R"(
layout(location = 0) out vec4 density;
const int targets[4] = int[4](21333, 21334, 21845, 21846);
void main() {
    ivec2 texel = ivec2(gl_FragCoord.xy);
    int slice = int(g_z + 0.5);
    ivec3 g = ivec3(texel.x - 64 * slice, slice, texel.y);
    int target = targets[clamp(int(floor(g_pos.x * 2.0 + 4.25 + 0.5)), 0, 3)];
    int whole = target / 8;
    int rest = target % 8; // 5 = face + corner, 6 = face + edge
    bool inside = false;
    ivec3 e = (g - 18) / 2;
    if (all(greaterThanEqual(g, ivec3(18))) && all(lessThanEqual(g, ivec3(46))) &&
        all(equal(g % 2, ivec3(0))))
        inside = (e.z * 15 + e.y) * 15 + e.x < whole;
    if (rest >= 4 && g == ivec3(16, 18, 18)) inside = true;
    if (rest == 6 && g == ivec3(16, 16, 18)) inside = true;
    if (rest == 5 && g == ivec3(16, 16, 16)) inside = true;
    density = vec4(inside ? 1.0 : -1.0, 0.0, 0.0, 1.0);
})";

TEST_F(GpuBlockPass, WarnsAbove64000VerticesAndGivesUpAbove65535) {
    SwappedGenerationEffect effect(kCountedPointsDensity);
    ASSERT_TRUE(effect.ok());
    const std::int32_t startedBefore = startedBlocks;
    const EngineNumber mapSumBefore = BlockMapSum;
    const struct {
        int x;
        std::int32_t triangles;
        bool warned;
        bool built;
    } cases[] = {{0, 21333, false, true}, {1, 21334, true, true},
                 {2, 21845, true, true},  {3, 21846, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.triangles << " triangles");
        win32::clearMessageBoxHistory();
        const int block = blockIndex(c.x, 0, 0);
        ID3DXMesh* const meshBefore = BlockMeshes[block];
        ASSERT_EQ(generateIn(CpuMeshGpuDensity, {0, c.x, 0, 0}), c.triangles);
        EXPECT_EQ(BlockMeshes[block], meshBefore) << "the CPU mode makes no mesh here";
        EXPECT_TRUE(win32::messageBoxHistory().empty());

        ASSERT_EQ(generateIn(GpuVerticesCpuWeld, {0, c.x, 0, 0}), c.triangles);
        const auto boxes = win32::messageBoxHistory();
        std::vector<std::string> texts;
        for (const auto& box : boxes)
            texts.push_back(box.caption + ": " + box.text);
        std::vector<std::string> expected;
        if (c.warned) expected.push_back("info: das wird nicht klappen");
        if (!c.built) expected.push_back("Error: Error while creating Mesh");
        EXPECT_EQ(texts, expected);
        if (c.built) {
            ASSERT_NE(BlockMeshes[block], nullptr);
            EXPECT_EQ(BlockTriangleCounts[block], c.triangles);
            EXPECT_EQ(BlockVertexCounts[block], 3 * c.triangles);
            EXPECT_GE(maxVertexBlock, 3 * c.triangles * 1024);
        } else {
            EXPECT_EQ(BlockMeshes[block], nullptr);
            EXPECT_EQ(BlockTriangleCounts[block], 0);
            EXPECT_EQ(BlockVertexCounts[block], 0);
        }
    }
    EXPECT_EQ(startedBlocks - startedBefore, 8) << "every job counts, the failed one too";
    EXPECT_GE(BlockMapSum, mapSumBefore);
}

// The largest block that gets a mesh fills VertexTarget to its last rows. Poisoned beforehand,
// any texel the pass leaves unwritten shows as a vertex off the CPU's triangles.
TEST_F(GpuBlockPass, LargestMeshIsTheCpuTrianglesOverAPoisonedVertexTarget) {
    SwappedGenerationEffect effect(kCountedPointsDensity);
    ASSERT_TRUE(effect.ok());
    const BlockJob largest{0, 2, 0, 0};
    ASSERT_EQ(generateIn(CpuMeshGpuDensity, largest), 21845);
    buildBlockOnCpu(0, 0);
    const std::vector<Triangle> cpu = stagedTriangles(0);
    ASSERT_EQ(cpu.size(), 21845u);

    d3d9gl::bindThreadContext(d3dDevice);
    const float poison[4] = {NAN, NAN, NAN, NAN};
    glClearTexImage(d3d9gl::textureName(VertexTarget.texture), 0, GL_RGBA, GL_FLOAT, poison);
    ASSERT_EQ(generateIn(GpuOnly, {1, 2, 0, 0}), 21845);
    std::string why;
    EXPECT_TRUE(sameTriangleSets(cpu, meshTriangles(BlockMeshes[blockIndex(2, 0, 0)]), 1e-4f,
                                 &why))
        << why;
}

TEST_F(GpuBlockPass, NonFiniteTriangleTotalCountsAsNone) {
    for (const char* bits : {"0x7fc00000u", "0x7f800000u", "0xff800000u"}) { // NaN, +inf, -inf
        SCOPED_TRACE(bits);
        SwappedGenerationEffect effect("layout(location = 0) out vec4 total;\n"
                                       "void main() { total = vec4(uintBitsToFloat(" +
                                           std::string(bits) + "), 0.0, 0.0, 0.0); }",
                                       "sum4Fs");
        ASSERT_TRUE(effect.ok());
        EXPECT_EQ(generateIn(GpuOnly, {0, 4, 3, 3}), 0);
        EXPECT_EQ(BlockTriangleCounts[blockIndex(4, 3, 3)], 0);
    }
}

TEST_F(GpuBlockPass, ModeZeroLeavesTheMaximumVertexBlockAlone) {
    const EngineNumber before = maxVertexBlock;
    generateIn(CpuMeshGpuDensity, {0, 2, 2, 2});
    EXPECT_EQ(maxVertexBlock, before);
}

// ---------------------------------------------------------------------------------------------
// Failed copies and creations (the layer fails the calls on purpose)
// ---------------------------------------------------------------------------------------------

// A ground block and another one; the first run leaves the other's density in the slot.
constexpr BlockJob groundBlock{0, 4, 3, 3};
constexpr BlockJob otherGroundBlock{0, 3, 3, 4};

void forgetMesh(BlockJob job) {
    ID3DXMesh*& mesh = BlockMeshes[blockIndex(job.x, job.y, job.z)];
    if (mesh != nullptr) mesh->Release();
    mesh = nullptr;
}

TEST_F(GpuBlockPass, FailedCopyLeavesTheBlockEmptyNeverBuiltFromAnotherBlock) {
    ASSERT_GT(workBlock(CpuMeshGpuDensity, otherGroundBlock).second, 0);
    ASSERT_GT(workBlock(CpuMeshGpuDensity, groundBlock).second, 0);
    // In the CPU mode the pass copies the total, then the density, then the cells; in the GPU
    // modes the total, then the vertices.
    const struct {
        CalculationModeValue mode;
        const char* call;
        int nth;
    } cases[] = {{CpuMeshGpuDensity, "GetRenderTargetData", 2},
                 {CpuMeshGpuDensity, "GetRenderTargetData", 3},
                 {CpuMeshGpuDensity, "LockRect", 2},
                 {CpuMeshGpuDensity, "LockRect", 3},
                 {GpuOnly, "GetRenderTargetData", 2},
                 {GpuVerticesCpuWeld, "LockRect", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.call << " " << c.nth);
        workBlock(CpuMeshGpuDensity, otherGroundBlock);
        forgetMesh(groundBlock);
        d3d9gl::failNthCall(c.call, c.nth);
        EXPECT_EQ(workBlock(c.mode, groundBlock), std::make_pair(0, 0));
        EXPECT_EQ(BlockMeshes[blockIndex(4, 3, 3)], nullptr);
        d3d9gl::clearCallFailures();
    }
}

// What one device reset whose re-creation of one object fails leaves: that object's line, and
// in each mode whether the ground block is still built; a reset that succeeds builds it again.
TEST_F(GpuBlockPass, ObjectsNotRecreatedAtResetLeaveTheBlocksThatNeedThemEmpty) {
    const std::int32_t t = generateIn(CpuMeshGpuDensity, groundBlock);
    ASSERT_GT(t, 0);
    const struct {
        const char* call;
        int nth;
        const char* line;
        bool builtOnCpu, builtOnGpu;
    } cases[] = {
        {"CreateTexture", 1, "cannot create the DensityMap target (HRESULT 0x8007000E)", false,
         false},
        {"CreateTexture", 7, "cannot create the VertexTarget (HRESULT 0x8007000E)", true, false},
        {"CreateVertexBuffer", 2, "cannot create the FullQuad (HRESULT 0x8007000E)", false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        releaseDeviceResources();
        ASSERT_TRUE(SUCCEEDED(d3d9gl::resetDevice(d3dDevice)));
        d3d9gl::failNthCall(c.call, c.nth);
        testing::internal::CaptureStderr();
        restoreDeviceResources();
        const std::string errors = testing::internal::GetCapturedStderr();
        d3d9gl::clearCallFailures();
        EXPECT_NE(errors.find(c.line), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;

        EXPECT_EQ(workBlock(CpuMeshGpuDensity, groundBlock).second, c.builtOnCpu ? t : 0);
        for (CalculationModeValue mode : {GpuOnly, GpuVerticesCpuWeld})
            EXPECT_EQ(workBlock(mode, groundBlock).second, c.builtOnGpu ? t : 0);
        EXPECT_EQ(engine_frame(), 1) << "the frame goes on";

        releaseDeviceResources();
        ASSERT_TRUE(SUCCEEDED(d3d9gl::resetDevice(d3dDevice)));
        restoreDeviceResources();
        EXPECT_EQ(workBlock(GpuOnly, groundBlock).second, t);
    }
}

// ---------------------------------------------------------------------------------------------
// Lookup textures and device loss
// ---------------------------------------------------------------------------------------------

TEST_F(GpuBlockPass, LookupTexturesHoldTheTables) {
    D3DLOCKED_RECT locked{};
    ASSERT_TRUE(SUCCEEDED(PolyCountTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY)));
    const auto* counts = static_cast<const float*>(locked.pBits);
    float sum = 0;
    for (int n = 0; n < 256; ++n)
        sum += counts[n];
    EXPECT_EQ(sum, 820.0f);
    EXPECT_EQ(counts[0], 0.0f);
    EXPECT_EQ(counts[255], 0.0f);
    EXPECT_EQ(counts[1], 1.0f);
    EXPECT_EQ(counts[3], 2.0f);
    PolyCountTexture->UnlockRect(0);

    ASSERT_TRUE(SUCCEEDED(TriangleTableTexture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY)));
    auto texel = [&](int column, int row) {
        const auto* bytes = static_cast<const std::uint8_t*>(locked.pBits) + row * locked.Pitch;
        // B, G, R, A in memory: (red, green, blue) = (x, z, y).
        return std::array<int, 3>{bytes[4 * column + 2], bytes[4 * column + 1], bytes[4 * column]};
    };
    const std::array<int, 3> expected[6] = {{0, 0, 0}, {255, 0, 0},   {0, 0, 0},
                                            {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
    for (int row = 0; row < 6; ++row)
        EXPECT_EQ(texel(1, row), expected[row]) << "row " << row;
    for (int row = 0; row < 32; ++row) {
        EXPECT_EQ(texel(0, row), (std::array<int, 3>{0, 0, 0}));
        EXPECT_EQ(texel(255, row), (std::array<int, 3>{0, 0, 0}));
        if (row >= 6) {
            EXPECT_EQ(texel(1, row), (std::array<int, 3>{0, 0, 0}));
        }
    }
    TriangleTableTexture->UnlockRect(0);
}

std::vector<std::uint16_t> noiseLevel0() {
    D3DLOCKED_BOX box{};
    std::vector<std::uint16_t> halves;
    if (FAILED(NoiseVolume->LockBox(0, &box, nullptr, D3DLOCK_READONLY))) return halves;
    const auto* data = static_cast<const std::uint16_t*>(box.pBits);
    halves.assign(data, data + 64 * 64 * 64 * 4);
    NoiseVolume->UnlockBox(0);
    return halves;
}

TEST_F(GpuBlockPass, NoiseFillsRepeatFromTheSameSeedAndStayBelowOne) {
    msvcrt::srand(1);
    ASSERT_TRUE(SUCCEEDED(D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr)));
    const std::vector<std::uint16_t> first = noiseLevel0();
    msvcrt::srand(1);
    ASSERT_TRUE(SUCCEEDED(D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr)));
    const std::vector<std::uint16_t> second = noiseLevel0();
    ASSERT_EQ(first.size(), 64u * 64 * 64 * 4);
    EXPECT_EQ(first, second);
    // Half floats in [0, 1]: sign clear, at most the bits of 1.0 (0x3C00), to which the
    // largest values round.
    for (std::uint16_t half : first)
        ASSERT_LE(half, 0x3C00u);
    D3DXVECTOR4 value;
    const D3DXVECTOR3 centre(0.5f, 0.5f, 0.5f), size(1 / 64.0f, 1 / 64.0f, 1 / 64.0f);
    for (int i = 0; i < 1000; ++i) {
        fillNoiseTexel(&value, &centre, &size, nullptr);
        for (float component : {value.x, value.y, value.z, value.w}) {
            ASSERT_GE(component, 0.0f);
            ASSERT_LE(component, 32767.0f / 32768.0f);
        }
    }
}

TEST_F(GpuBlockPass, DeviceLossEmptiesEveryBlockAndResetGivesTheSameBlocks) {
    const BlockJob job{0, 4, 3, 3}; // a block of the ground
    const std::int32_t t = generateIn(CpuMeshGpuDensity, job);
    ASSERT_GT(t, 0);
    const std::vector<float> density(DensityReadback[0], DensityReadback[0] + densityFloatsPerSlot);
    ASSERT_EQ(generateIn(GpuOnly, job), t);
    const int block = blockIndex(job.x, job.y, job.z);
    ASSERT_NE(BlockMeshes[block], nullptr);

    releaseDeviceResources();
    EXPECT_EQ(d3d9gl::liveDefaultPoolObjects(d3dDevice), 0u);
    for (int i = 0; i < towerBlockCount; ++i) {
        ASSERT_EQ(BlockMeshes[i], nullptr);
        ASSERT_EQ(BlockTriangleCounts[i], 0);
    }
    ASSERT_TRUE(SUCCEEDED(d3d9gl::resetDevice(d3dDevice)));
    restoreDeviceResources();
    ASSERT_NE(generationEffect, nullptr);

    EXPECT_EQ(generateIn(CpuMeshGpuDensity, job), t);
    EXPECT_EQ(std::memcmp(density.data(), DensityReadback[0], density.size() * sizeof(float)), 0);
    EXPECT_EQ(generateIn(GpuOnly, job), t);
    EXPECT_EQ(BlockTriangleCounts[block], t);
}

} // namespace
