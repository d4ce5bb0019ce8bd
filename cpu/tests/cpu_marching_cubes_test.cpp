#include "cpu/cpu_marching_cubes.h"

#include "cpu/tests/density_fields.h"
#include "cpu/tests/reference_mesher.h"
#include "cpu/tests/staging_device.h"
#include "tables/marching_cubes_tables.h"
#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <map>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace density_fields;

struct Mesh {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices;
};

// What the mesher left in the slot's staging buffers, as its counts say.
Mesh stagedMesh(int slot) {
    Mesh mesh;
    void* data = nullptr;
    const StagingBuffers& staging = WorkerStagingBuffers[slot];
    EXPECT_TRUE(SUCCEEDED(staging.vertices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const auto* vertices = static_cast<const MeshVertex*>(data);
    mesh.vertices.assign(vertices, vertices + SlotCpuVertexCounts[slot]);
    staging.vertices->Unlock();
    EXPECT_TRUE(SUCCEEDED(staging.indices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const auto* indices = static_cast<const std::uint16_t*>(data);
    mesh.indices.assign(indices, indices + 3 * SlotCpuTriangleCounts[slot]);
    staging.indices->Unlock();
    return mesh;
}

Mesh meshSlot(int slot) {
    buildBlockOnCpu(0, slot);
    return stagedMesh(slot);
}

// Compares the mesher's output with the reference's first triangles, vertex by vertex.
void expectMatchesReference(const Mesh& mesh, const ReferenceMesh& reference, bool wholeMesh) {
    ASSERT_LE(mesh.indices.size(), reference.indices.size());
    if (wholeMesh) {
        ASSERT_EQ(mesh.indices.size(), reference.indices.size());
        ASSERT_EQ(mesh.vertices.size(), reference.positions.size());
    }
    for (std::size_t i = 0; i < mesh.indices.size(); ++i) {
        ASSERT_EQ(mesh.indices[i], reference.indices[i]) << "index " << i;
        ASSERT_LT(mesh.indices[i], mesh.vertices.size());
    }
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_NEAR(mesh.vertices[v].position[axis], reference.positions[v][axis], 1e-4f)
                << "vertex " << v << " axis " << axis;
            ASSERT_EQ(mesh.vertices[v].normal[axis], 0.0f);
        }
        if (wholeMesh) {
            ASSERT_NEAR(mesh.vertices[v].u, reference.texcoords[v], 1e-6f) << "vertex " << v;
        }
        ASSERT_EQ(mesh.vertices[v].u, mesh.vertices[v].v);
    }
}

// Grid edges between the block's grid points 16..48 whose ends lie on different sides of 0.
int signChangingGridEdges(int slot) {
    const float* density = DensityReadback[slot];
    auto inside = [&](int gx, int gy, int gz) {
        return density[densitySampleIndex(gx, gy, gz)] > 0.0f;
    };
    int count = 0;
    for (int gz = 16; gz <= 48; ++gz)
        for (int gy = 16; gy <= 48; ++gy)
            for (int gx = 16; gx <= 48; ++gx) {
                if (gx < 48 && inside(gx, gy, gz) != inside(gx + 1, gy, gz)) ++count;
                if (gy < 48 && inside(gx, gy, gz) != inside(gx, gy + 1, gz)) ++count;
                if (gz < 48 && inside(gx, gy, gz) != inside(gx, gy, gz + 1)) ++count;
            }
    return count;
}

const MeshVertex* findVertexAt(const Mesh& mesh, float x, float y, float z) {
    for (const MeshVertex& v : mesh.vertices)
        if (std::fabs(v.position[0] - x) < 1e-5f && std::fabs(v.position[1] - y) < 1e-5f &&
            std::fabs(v.position[2] - z) < 1e-5f)
            return &v;
    return nullptr;
}

class CpuMarchingCubes : public testing::Test {
  protected:
    static void SetUpTestSuite() { createStagingBuffers(); }
    static void TearDownTestSuite() { releaseStagingBuffers(); }
};

TEST_F(CpuMarchingCubes, SphereGivesClosedConsistentlyWoundMesh) {
    fillSphere(0, 9.5f);
    const Mesh mesh = meshSlot(0);
    ASSERT_GT(mesh.indices.size(), 0u);

    EXPECT_EQ(static_cast<int>(mesh.vertices.size()), signChangingGridEdges(0));

    // Every edge is shared by exactly two triangles, which run it in opposite directions.
    std::map<std::pair<int, int>, int> directedEdges;
    for (std::size_t t = 0; t < mesh.indices.size(); t += 3)
        for (int j = 0; j < 3; ++j)
            ++directedEdges[{mesh.indices[t + j], mesh.indices[t + (j + 1) % 3]}];
    std::set<std::pair<int, int>> undirected;
    for (const auto& [edge, uses] : directedEdges) {
        EXPECT_EQ(uses, 1);
        EXPECT_EQ(directedEdges.count({edge.second, edge.first}), 1u);
        undirected.insert(std::minmax(edge.first, edge.second));
    }
    const long vertices = static_cast<long>(mesh.vertices.size());
    const long faces = static_cast<long>(mesh.indices.size() / 3);
    EXPECT_EQ(vertices - static_cast<long>(undirected.size()) + faces, 2);

    // The axis swap into block coordinates mirrors the cell frame, so the triangles' right-handed
    // normals face away from the inside here.
    const float centre[3] = {32.3f - 32.0f, 32.15f - 32.0f, 31.7f - 32.0f};
    for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
        const float* p0 = mesh.vertices[mesh.indices[t]].position;
        const float* p1 = mesh.vertices[mesh.indices[t + 1]].position;
        const float* p2 = mesh.vertices[mesh.indices[t + 2]].position;
        float e1[3], e2[3], toTriangle[3];
        for (int i = 0; i < 3; ++i) {
            e1[i] = p1[i] - p0[i];
            e2[i] = p2[i] - p0[i];
            toTriangle[i] = (p0[i] + p1[i] + p2[i]) / 3.0f - centre[i];
        }
        const float normal[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]};
        EXPECT_GT(normal[0] * toTriangle[0] + normal[1] * toTriangle[1] + normal[2] * toTriangle[2],
                  0.0f)
            << "triangle " << t / 3;
    }
}

TEST_F(CpuMarchingCubes, MatchesIndependentMesherOnTerrainAndSphere) {
    fillTerrain(0);
    expectMatchesReference(meshSlot(0), referenceMesh(0), true);
    fillDenseTerrain(0);
    expectMatchesReference(meshSlot(0), referenceMesh(0), true);
    fillSphere(1, 14.0f);
    expectMatchesReference(meshSlot(1), referenceMesh(1), true);
}

TEST_F(CpuMarchingCubes, ApronPlacesTheBlocksVerticesWhereTheMesherDid) {
    // The apron's double-precision positions come from the samples the walk kept; the staged
    // ones from the cell's corners in single precision. They differ only by rounding.
    for (auto fill : {+[] { fillDenseTerrain(0); }, +[] { fillSphere(0, 12.5f); }}) {
        fill();
        const Mesh staged = meshSlot(0);
        ExtendedMesh extended;
        meshWithApron(0, staged.indices.data(), extended);
        ASSERT_GT(staged.vertices.size(), 1000u);
        for (std::size_t v = 0; v < staged.vertices.size(); ++v)
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_NEAR(extended.positions[3 * v + axis], staged.vertices[v].position[axis],
                            1e-5)
                    << "vertex " << v << " axis " << axis;
    }
}

TEST_F(CpuMarchingCubes, HorizontalPlaneGivesOneVertexPerVerticalEdge) {
    // Inside below row 20.5: every vertical grid edge between rows 20 and 21 is cut half-way.
    fillDensity(0, [](int, int, int gz) { return 20.5f - static_cast<float>(gz); });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{0}; });
    const Mesh mesh = meshSlot(0);
    EXPECT_EQ(mesh.vertices.size(), 33u * 33u);
    EXPECT_EQ(mesh.indices.size(), 32u * 32u * 2u * 3u);
    std::set<std::pair<float, float>> columns;
    for (const MeshVertex& v : mesh.vertices) {
        EXPECT_FLOAT_EQ(v.position[1], 20.5f - 32.0f);
        EXPECT_EQ(v.position[0], std::round(v.position[0]));
        EXPECT_EQ(v.position[2], std::round(v.position[2]));
        EXPECT_GE(v.position[0], -16.0f);
        EXPECT_LE(v.position[0], 16.0f);
        columns.insert({v.position[0], v.position[2]});
    }
    EXPECT_EQ(columns.size(), 33u * 33u);
}

TEST_F(CpuMarchingCubes, FirstCellVerticesLieOnItsEdges) {
    fillDensity(0, [](int gx, int gy, int gz) {
        return (gx == 17 && gy == 16 && gz == 16) ? 1.0f : -1.0f;
    });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{0}; });
    ASSERT_EQ(sampleCellCorners(0, 0, 0, 0, 1).caseIndex, 2);
    const Mesh mesh = meshSlot(0);
    ASSERT_GE(mesh.vertices.size(), 3u);
    // Case 2 is edges 0, 1, 9: the first three vertices, each at the middle of its edge.
    const float expected[3][3] = {{-15.5f, -16.0f, -16.0f}, {-15.0f, -16.0f, -15.5f},
                                  {-15.0f, -15.5f, -16.0f}};
    for (int v = 0; v < 3; ++v)
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_FLOAT_EQ(mesh.vertices[v].position[axis], expected[v][axis]);
}

TEST_F(CpuMarchingCubes, ZeroAndNanCountAsOutside) {
    // One inside sample among zeros: the surface is an octahedron through its six neighbours.
    fillDensity(0, [](int gx, int gy, int gz) {
        if (gx == 30 && gy == 30 && gz == 30) return 1.0f;
        return (gx + gy + gz) % 2 ? 0.0f : std::nanf("");
    });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{0}; });
    EXPECT_EQ(sampleCellCorners(0, 0, 0, 0, 1).caseIndex, 0);

    const Mesh mesh = meshSlot(0);
    EXPECT_EQ(mesh.vertices.size(), 6u);
    EXPECT_EQ(mesh.indices.size(), 8u * 3u);
    const float centre[3] = {30 - 32, 30 - 32, 30 - 32};
    for (const MeshVertex& v : mesh.vertices) {
        float distance = 0.0f;
        for (int axis = 0; axis < 3; ++axis) distance += std::fabs(v.position[axis] - centre[axis]);
        EXPECT_FLOAT_EQ(distance, 1.0f);
    }
}

TEST_F(CpuMarchingCubes, SharedVertexTexcoordIsRunningHalfAverage) {
    // A horizontal surface between rows 20 and 21 crosses the cells of row 4. Each such cell
    // names the vertical edges at its offsets (1, 0) and (0, 1) once and those at (0, 0) and
    // (1, 1) twice, and every naming moves the texture coordinate half-way to the cell's value.
    // So the vertex on lattice column (1, 1) is made by cell (0, 0), then moved once by (0, 1)
    // and once by (1, 0), then twice by (1, 1); likewise column (3, 1) with cells (2..3, 0..1).
    fillDensity(0, [](int, int, int gz) { return 20.5f - static_cast<float>(gz); });
    fillCellValues(0, [](int cx, int cy, int cz) -> std::uint8_t {
        static const std::uint8_t rowFour[4][2] = {
            {51, 153},  // 0.2, 0.6 -> 0.4
            {102, 102}, // 0.4 keeps it
            {51, 153},  // 0.2, 0.6 -> 0.4
            {255, 178}, // 1.0 -> 0.7; ~0.7 twice stays near 0.7
        };
        return (cz == 4 && cx < 4 && cy < 2) ? rowFour[cx][cy] : 0;
    });
    const Mesh mesh = meshSlot(0);
    const MeshVertex* first = findVertexAt(mesh, -15.0f, -11.5f, -15.0f);
    const MeshVertex* second = findVertexAt(mesh, -13.0f, -11.5f, -15.0f);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NEAR(first->u, 0.4f, 1e-6f);
    EXPECT_EQ(first->u, first->v);
    const float afterOneAndTwo = (((0.2f + 0.6f) * 0.5f + 1.0f) * 0.5f); // 0.7
    const float value = 178 / 255.0f;
    EXPECT_NEAR(second->u, ((afterOneAndTwo + value) * 0.5f + value) * 0.5f, 1e-6f);
    EXPECT_NEAR(afterOneAndTwo, 0.7f, 1e-6f);
    EXPECT_EQ(second->u, second->v);
}

TEST_F(CpuMarchingCubes, UniformBlocksYieldNothing) {
    for (float value : {-1.0f, 0.0f, 2.0f}) {
        fillDensity(0, [value](int, int, int) { return value; });
        fillCellValues(0, [](int, int, int) { return std::uint8_t{200}; });
        buildBlockOnCpu(0, 0);
        EXPECT_EQ(SlotCpuVertexCounts[0], 0) << value;
        EXPECT_EQ(SlotCpuTriangleCounts[0], 0) << value;
    }
}

// A block that would overflow keeps exactly the reference's first whole triangles, and stops
// at the first triangle that would not fit.
void expectCappedPrefix(int slot, bool vertexLimitExpected) {
    const Mesh mesh = meshSlot(slot);
    const ReferenceMesh reference = referenceMesh(slot);
    expectMatchesReference(mesh, reference, false);

    const std::size_t triangles = mesh.indices.size() / 3;
    ASSERT_LT(triangles * 3, reference.indices.size()) << "the field must overflow";
    EXPECT_LE(mesh.vertices.size(), static_cast<std::size_t>(blockMeshVertexLimit));
    EXPECT_LE(mesh.indices.size(), static_cast<std::size_t>(stagingIndexCapacity));

    std::set<std::uint32_t> usedVertices(reference.indices.begin(),
                                         reference.indices.begin() + triangles * 3);
    EXPECT_EQ(usedVertices.size(), mesh.vertices.size());
    int newInNext = 0;
    for (int j = 0; j < 3; ++j)
        newInNext += usedVertices.count(reference.indices[triangles * 3 + j]) == 0;
    const bool vertexLimitHit = mesh.vertices.size() + newInNext > blockMeshVertexLimit;
    const bool indexLimitHit = (triangles + 1) * 3 > stagingIndexCapacity;
    EXPECT_EQ(vertexLimitHit, vertexLimitExpected);
    EXPECT_EQ(indexLimitHit, !vertexLimitExpected);
}

TEST_F(CpuMarchingCubes, OverflowingBlockKeepsWholeTrianglesThatFit) {
    fillCheckerboard(0, true, true, true); // every grid edge changes sign: too many vertices
    expectCappedPrefix(0, true);
    fillCheckerboard(0, true, true, false); // vertical columns: too many indices first
    expectCappedPrefix(0, false);
}

TEST_F(CpuMarchingCubes, CoarseStepStaysInsideTheSlot) {
    // Slot 1's field is all inside; a coarse step on slot 0 must not read it.
    fillDensity(1, [](int, int, int) { return 1.0f; });
    fillDensity(0, [](int, int, int gz) { return 40.5f - static_cast<float>(gz); });
    const CellCorners corners = sampleCellCorners(0, 0, 0, 0, 64);
    EXPECT_EQ(corners.density[6], DensityReadback[0][densitySampleIndex(63, 63, 63)]);
    EXPECT_EQ(corners.caseIndex, 0x0F);

    buildBlockOnCpu(5, 0); // one cell spanning the block
    EXPECT_EQ(SlotCpuVertexCounts[0], 4);
    EXPECT_EQ(SlotCpuTriangleCounts[0], 2);
    buildBlockOnCpu(-1, 0);
    EXPECT_EQ(SlotCpuTriangleCounts[0], 0);
    buildBlockOnCpu(40, 0);
    EXPECT_EQ(SlotCpuTriangleCounts[0], 0);
}

TEST_F(CpuMarchingCubes, TwoSlotsMeshedAtOnceMatchSlotsMeshedAlone) {
    fillTerrain(0, 1);
    fillSphere(1, 12.0f);
    const Mesh alone[2] = {meshSlot(0), meshSlot(1)};

    for (int round = 0; round < 3; ++round) {
        Mesh together[2];
        std::thread workers[2];
        for (int slot = 0; slot < 2; ++slot)
            workers[slot] = std::thread([slot, &together] { together[slot] = meshSlot(slot); });
        for (std::thread& worker : workers) worker.join();
        for (int slot = 0; slot < 2; ++slot) {
            ASSERT_EQ(together[slot].indices, alone[slot].indices) << "slot " << slot;
            ASSERT_EQ(together[slot].vertices.size(), alone[slot].vertices.size());
            EXPECT_EQ(std::memcmp(together[slot].vertices.data(), alone[slot].vertices.data(),
                                  alone[slot].vertices.size() * sizeof(MeshVertex)),
                      0);
        }
    }
}

} // namespace
