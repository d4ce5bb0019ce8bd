#include "view/terrain_render.h"

#include "app/effect_keys.h"
#include "engine/engine_handles.h"
#include "app/tests/headless_program.h"
#include "gpu/gpu_resources.h"
#include "platform/d3d9/gl_device.h"
#include "tables/marching_cubes_tables.h"
#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int screenWidth = 160, screenHeight = 120;

// A horizontal sheet through a block made as the marching cubes make it: every cell of the
// layer just below the block's middle is marching-cubes case 15 (its four lower corners solid),
// with cell step `step` and its triangles taken from the table with each edge cut at its
// midpoint. Positions use the block mesh's axes (cell x, cell z up, cell y); u = v = 1.
// Normals are each face's cross(p1 - p0, p2 - p0), as Direct3D's mesh library computes them.
std::vector<MeshVertex> caseFifteenSheet(int step) {
    constexpr int solidBelow = 15;
    std::vector<MeshVertex> vertices;
    const int cz = 16 - step;
    for (int cx = 0; cx < 32; cx += step) {
        for (int cy = 0; cy < 32; cy += step) {
            const std::int32_t* edges = TriangleTable[solidBelow];
            for (int i = 0; edges[i] >= 0; i += 3) {
                MeshVertex corner[3];
                for (int k = 0; k < 3; ++k) {
                    const float* a = CubeCorners[EdgeCorners[edges[i + k]][0]];
                    const float* b = CubeCorners[EdgeCorners[edges[i + k]][1]];
                    // CubeCorners holds (z, y, x).
                    const float px = (a[2] + b[2]) / 2, py = (a[1] + b[1]) / 2,
                                pz = (a[0] + b[0]) / 2;
                    corner[k] = MeshVertex{
                        {cx + step * px - 16.0f, cz + step * pz - 16.0f, cy + step * py - 16.0f},
                        {0, 0, 0},
                        1.0f,
                        1.0f};
                }
                D3DXVECTOR3 p[3], e1, e2, n;
                for (int k = 0; k < 3; ++k)
                    p[k] = D3DXVECTOR3(corner[k].position[0], corner[k].position[1],
                                       corner[k].position[2]);
                e1 = p[1] - p[0];
                e2 = p[2] - p[0];
                D3DXVec3Cross(&n, &e1, &e2);
                for (MeshVertex& v : corner) {
                    v.normal[0] = n.x;
                    v.normal[1] = n.y;
                    v.normal[2] = n.z;
                    vertices.push_back(v);
                }
            }
        }
    }
    return vertices;
}

// An unwelded triangle-list mesh of `vertices` (3k, 3k + 1, 3k + 2 form face k).
ID3DXMesh* makeMesh(const std::vector<MeshVertex>& vertices) {
    const DWORD faces = static_cast<DWORD>(vertices.size() / 3);
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DXCreateMesh(faces, static_cast<DWORD>(vertices.size()), D3DXMESH_DYNAMIC,
                             MeshDeclaration, d3dDevice, &mesh),
              S_OK);
    if (!mesh) return nullptr;
    void* data = nullptr;
    mesh->LockVertexBuffer(0, &data);
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(MeshVertex));
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(0, &data);
    auto* indices = static_cast<std::uint16_t*>(data);
    for (std::size_t i = 0; i < vertices.size(); ++i)
        indices[i] = static_cast<std::uint16_t>(i);
    mesh->UnlockIndexBuffer();
    return mesh;
}

EngineCamera& engineCamera() {
    return engineVariable<EngineCamera>(engineSlotTable, EnginePos::camera);
}

// Engine axes: z up. Angles in degrees.
void placeCamera(float x, float y, float z, float pan, float tilt) {
    auto number = [](float value) { return static_cast<EngineNumber>(value * 1024); };
    engineCamera() =
        EngineCamera{{number(x), number(y), number(z)}, {number(pan), number(tilt), 0}};
}

// The level's start: the whole tower in view.
void placeCameraAtStart() {
    placeCamera(-2163, -2163, 3067, 45, -20);
}

struct Pixel {
    int red, green, blue;
};

// Runs one frame and returns the back buffer's pixel at (x, y), row 0 at the top.
Pixel frameAndReadPixel(int x, int y) {
    engine_frame();
    std::vector<std::uint8_t> rgba;
    EXPECT_EQ(d3d9gl::readBackBuffer(d3dDevice, rgba), S_OK);
    const std::size_t at = (static_cast<std::size_t>(y) * screenWidth + x) * 4;
    if (rgba.size() < at + 4) return {};
    return {rgba[at], rgba[at + 1], rgba[at + 2]};
}

int colourDistance(const Pixel& a, const Pixel& b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

class TerrainRender : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(headless_program::start("160x120"), StartUpOutcome::running);
        // Key T compiles "renderMap.fx" whether or not start-up already did.
        reloadRenderEffect();
        ASSERT_NE(renderEffect, nullptr);
    }
    static void TearDownTestSuite() { headless_program::removeDataCopy(); }

    void TearDown() override {
        for (int block = 0; block < towerBlockCount; ++block) {
            BlockTriangleCounts[block] = 0;
            if (BlockMeshes[block]) BlockMeshes[block]->Release();
            BlockMeshes[block] = nullptr;
        }
    }

    // Gives block (x, y, z) the sheet of cell step `step`; with `drawable` false the block keeps
    // the mesh but its triangle count stays 0, like a block whose latest generation was empty.
    static ID3DXMesh* giveBlockSheet(int x, int y, int z, int step, bool drawable = true) {
        ID3DXMesh* mesh = makeMesh(caseFifteenSheet(step));
        const int block = blockIndex(x, y, z);
        BlockMeshes[block] = mesh;
        BlockVertexCounts[block] = mesh ? static_cast<std::int32_t>(mesh->GetNumVertices()) : 0;
        BlockTriangleCounts[block] =
            drawable && mesh ? static_cast<std::int32_t>(mesh->GetNumFaces()) : 0;
        return mesh;
    }
};

TEST_F(TerrainRender, BlockWorldMatrixScalesByTenThenPlacesTheBlock) {
    struct Case {
        int x, y, z;
        float X, Y, Z;
    };
    for (const Case& c : {Case{0, 0, 0, -160, 340, -160}, Case{7, 7, 7, 2080, 2580, 2080},
                          Case{1, 2, 3, 160, 1300, 480}}) {
        const D3DXMATRIX expected(10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 10, 0, c.X, c.Y, c.Z, 1);
        EXPECT_EQ(blockWorldMatrix(c.x, c.y, c.z), expected)
            << "block " << c.x << ", " << c.y << ", " << c.z;
    }
}

TEST_F(TerrainRender, SheetOfTheTableFacesUpInMeshAxes) {
    // The rendering relies on this: the marching-cubes winding, with the cell z axis as the
    // mesh's y, turns each face's cross product towards the open side.
    for (const MeshVertex& v : caseFifteenSheet(8)) {
        EXPECT_EQ(v.normal[0], 0.0f);
        EXPECT_GT(v.normal[1], 0.0f);
        EXPECT_EQ(v.normal[2], 0.0f);
    }
}

TEST_F(TerrainRender, WithNoTowerNothingIsCounted) {
    placeCameraAtStart();
    vertexCount = 1234;
    polygonCount = 5678;
    engine_frame();
    EXPECT_EQ(vertexCount, 0);
    EXPECT_EQ(polygonCount, 0);
}

TEST_F(TerrainRender, CountsTheGeometryOfEveryVisibleBlockWithTriangles) {
    ID3DXMesh* a = giveBlockSheet(0, 0, 0, 4);
    ID3DXMesh* b = giveBlockSheet(7, 7, 7, 8);
    ID3DXMesh* c = giveBlockSheet(1, 2, 3, 16);
    giveBlockSheet(4, 4, 4, 2, /*drawable=*/false);
    ASSERT_TRUE(a && b && c);

    placeCameraAtStart();
    engine_frame();
    EXPECT_EQ(vertexCount, static_cast<std::int32_t>(a->GetNumVertices() + b->GetNumVertices() +
                                                     c->GetNumVertices()));
    EXPECT_EQ(polygonCount,
              static_cast<std::int32_t>(a->GetNumFaces() + b->GetNumFaces() + c->GetNumFaces()));
    EXPECT_EQ(polygonCount, BlockTriangleCounts[blockIndex(0, 0, 0)] +
                                BlockTriangleCounts[blockIndex(7, 7, 7)] +
                                BlockTriangleCounts[blockIndex(1, 2, 3)]);

    // The next frame starts from 0 again rather than adding to it.
    engine_frame();
    EXPECT_EQ(polygonCount,
              static_cast<std::int32_t>(a->GetNumFaces() + b->GetNumFaces() + c->GetNumFaces()));
}

TEST_F(TerrainRender, CameraTurnedAwayDrawsNothing) {
    giveBlockSheet(0, 0, 0, 4);
    giveBlockSheet(7, 7, 7, 4);
    giveBlockSheet(3, 4, 5, 4);
    placeCamera(-2163, -2163, 3067, 225, -20);
    engine_frame();
    EXPECT_EQ(vertexCount, 0);
    EXPECT_EQ(polygonCount, 0);
}

TEST_F(TerrainRender, CopiesTheFramesMatricesAndTheCameraInDirect3DAxes) {
    placeCamera(100.5f, -250.25f, 3000, 30, -10);
    engine_frame();
    EXPECT_EQ(viewPos, D3DXVECTOR4(100.5f, 3000.0f, -250.25f, 0.0f));
    const auto* view =
        static_cast<const float*>(engineSlot(engineSlotTable, EnginePos::viewMatrix));
    const auto* proj =
        static_cast<const float*>(engineSlot(engineSlotTable, EnginePos::projectionMatrix));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(viewMatrix.m[i / 4][i % 4], view[i]) << "view element " << i;
        EXPECT_EQ(projMatrix.m[i / 4][i % 4], proj[i]) << "projection element " << i;
    }

    placeCamera(-7, 8, 9, 30, -10);
    engine_frame();
    EXPECT_EQ(viewPos, D3DXVECTOR4(-7.0f, 9.0f, 8.0f, 0.0f));
}

// Block (0, 0, 0) is centred at Direct3D (-160, 340, -160); its sheet of step 4 lies 20 units
// below that, over x and z from -320 to 0. Engine (x, y, z) is Direct3D (x, z, y).
TEST_F(TerrainRender, SheetSeenFromAboveIsLitMud) {
    placeCamera(-160, -160, 535, 0, -90);
    const Pixel sky = frameAndReadPixel(screenWidth / 2, screenHeight / 2);

    giveBlockSheet(0, 0, 0, 4);
    const Pixel terrain = frameAndReadPixel(screenWidth / 2, screenHeight / 2);
    EXPECT_GT(vertexCount, 0);
    EXPECT_GT(terrain.red + terrain.green + terrain.blue, 90) << "black terrain";
    EXPECT_GT(colourDistance(terrain, sky), 30)
        << "terrain (" << terrain.red << ", " << terrain.green << ", " << terrain.blue
        << ") looks like the sky (" << sky.red << ", " << sky.green << ", " << sky.blue << ")";
}

TEST_F(TerrainRender, SheetSeenFromTheSolidSideIsCulled) {
    placeCamera(-160, -160, 135, 0, 90);
    const Pixel sky = frameAndReadPixel(screenWidth / 2, screenHeight / 2);

    giveBlockSheet(0, 0, 0, 4);
    const Pixel below = frameAndReadPixel(screenWidth / 2, screenHeight / 2);
    EXPECT_GT(vertexCount, 0) << "the block is in view and counted, only its back is culled";
    EXPECT_LE(colourDistance(below, sky), 3);
}

TEST_F(TerrainRender, WithoutTheEffectNothingIsDrawnOrCounted) {
    placeCamera(-160, -160, 535, 0, -90);
    std::vector<std::uint8_t> empty, withoutEffect;
    engine_frame();
    ASSERT_EQ(d3d9gl::readBackBuffer(d3dDevice, empty), S_OK);

    giveBlockSheet(0, 0, 0, 4);
    ID3DXEffect* effect = renderEffect;
    renderEffect = nullptr;
    engine_frame();
    renderEffect = effect;
    EXPECT_EQ(vertexCount, 0);
    EXPECT_EQ(polygonCount, 0);
    ASSERT_EQ(d3d9gl::readBackBuffer(d3dDevice, withoutEffect), S_OK);
    EXPECT_TRUE(withoutEffect == empty) << "the picture differs from one without a tower";
}

} // namespace
