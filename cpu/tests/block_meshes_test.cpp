#include "cpu/block_meshes.h"

#include "cpu/cpu_marching_cubes.h"
#include "cpu/density_normals.h"
#include "cpu/mesh_weld.h"
#include "cpu/tests/density_fields.h"
#include "cpu/tests/staging_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace density_fields;

struct MeshContents {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices;
};

MeshContents contentsOf(ID3DXMesh* mesh) {
    MeshContents contents;
    void* data = nullptr;
    EXPECT_TRUE(SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)));
    const auto* vertices = static_cast<const MeshVertex*>(data);
    contents.vertices.assign(vertices, vertices + mesh->GetNumVertices());
    mesh->UnlockVertexBuffer();
    EXPECT_TRUE(SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data)));
    const auto* indices = static_cast<const std::uint16_t*>(data);
    contents.indices.assign(indices, indices + 3 * mesh->GetNumFaces());
    mesh->UnlockIndexBuffer();
    return contents;
}

float length(const float* v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

float area(const MeshContents& mesh, std::size_t face) {
    const float* p[3];
    for (int k = 0; k < 3; ++k)
        p[k] = mesh.vertices[mesh.indices[3 * face + k]].position;
    const float a[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const float b[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const float cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                            a[0] * b[1] - a[1] * b[0]};
    return 0.5f * length(cross);
}

// Vertices every face of which has no area.
int verticesOnlyOnDegenerateFaces(const MeshContents& mesh) {
    std::vector<char> onRealFace(mesh.vertices.size(), 0), onAnyFace(mesh.vertices.size(), 0);
    for (std::size_t face = 0; face * 3 < mesh.indices.size(); ++face) {
        const bool real = area(mesh, face) > 0.0f;
        for (int k = 0; k < 3; ++k) {
            onAnyFace[mesh.indices[3 * face + k]] = 1;
            onRealFace[mesh.indices[3 * face + k]] |= real;
        }
    }
    int count = 0;
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        count += onAnyFace[v] && !onRealFace[v];
    return count;
}

class BlockMeshes : public testing::Test {
  protected:
    static void SetUpTestSuite() { createStagingBuffers(); }
    static void TearDownTestSuite() { releaseStagingBuffers(); }

    static MeshContents stagedBlock(int slot) {
        buildBlockOnCpu(0, slot);
        const StagedMesh staged = meshFromStaging(slot, stagingDevice);
        EXPECT_EQ(staged.outcome, StagedMeshOutcome::built);
        if (!staged.mesh) return {};
        EXPECT_EQ(staged.mesh->GetNumVertices(), static_cast<DWORD>(SlotCpuVertexCounts[slot]));
        EXPECT_EQ(staged.mesh->GetNumFaces(), static_cast<DWORD>(SlotCpuTriangleCounts[slot]));
        MeshContents contents = contentsOf(staged.mesh);
        staged.mesh->Release();
        return contents;
    }
};

TEST_F(BlockMeshes, TerracedGroundHasUnitUpwardNormalsEverywhere) {
    // Ground of whole-number heights: the density is an integer, exactly 0 on the grid points
    // where the ground passes through them. Marching cubes puts vertices on those points and
    // around some of them makes only faces with no area.
    fillDensity(0, [](int gx, int gy, int gz) {
        const float height = std::round(
            3.0f * valueNoise(static_cast<float>(gx) / 7.0f, static_cast<float>(gy) / 7.0f, 0.5f));
        return 32.0f + height - static_cast<float>(gz);
    });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{200}; });
    const MeshContents mesh = stagedBlock(0);
    ASSERT_FALSE(mesh.vertices.empty());
    ASSERT_GT(verticesOnlyOnDegenerateFaces(mesh), 0) << "the field must make the case to mend";

    // The density falls upwards everywhere (the rows are the vertex y axis), so outward is up.
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const MeshVertex& vertex = mesh.vertices[v];
        ASSERT_NEAR(length(vertex.normal), 1.0f, 1e-4f) << "vertex " << v;
        EXPECT_GT(vertex.normal[1], 0.0f) << "vertex " << v;
    }
}

TEST_F(BlockMeshes, SmoothNormalsAgreeWithTheDensityGradient) {
    // Two ways to the surface's direction: the faces around each vertex, and the field.
    fillTerrain(1, 3);
    const MeshContents mesh = stagedBlock(1);
    ASSERT_GT(mesh.vertices.size(), 1000u);
    double agreement = 0.0;
    for (const MeshVertex& vertex : mesh.vertices) {
        ASSERT_NEAR(length(vertex.normal), 1.0f, 1e-4f);
        const D3DXVECTOR3 field = densityNormal(DensityReadback[1], vertex.position);
        agreement +=
            vertex.normal[0] * field.x + vertex.normal[1] * field.y + vertex.normal[2] * field.z;
    }
    EXPECT_GT(agreement / static_cast<double>(mesh.vertices.size()), 0.9);
}

TEST_F(BlockMeshes, StagedMeshCopiesTheMesherOutputExactly) {
    fillSphere(0, 11.0f);
    buildBlockOnCpu(0, 0);
    std::vector<std::uint16_t> staged(static_cast<std::size_t>(SlotCpuTriangleCounts[0]) * 3);
    std::vector<MeshVertex> stagedVertices(static_cast<std::size_t>(SlotCpuVertexCounts[0]));
    void* data = nullptr;
    ASSERT_TRUE(SUCCEEDED(WorkerStagingBuffers[0].indices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    std::memcpy(staged.data(), data, staged.size() * sizeof(std::uint16_t));
    WorkerStagingBuffers[0].indices->Unlock();
    ASSERT_TRUE(SUCCEEDED(WorkerStagingBuffers[0].vertices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    std::memcpy(stagedVertices.data(), data, stagedVertices.size() * sizeof(MeshVertex));
    WorkerStagingBuffers[0].vertices->Unlock();

    const StagedMesh built = meshFromStaging(0, stagingDevice);
    ASSERT_EQ(built.outcome, StagedMeshOutcome::built);
    const MeshContents mesh = contentsOf(built.mesh);
    built.mesh->Release();
    EXPECT_EQ(mesh.indices, staged);
    ASSERT_EQ(mesh.vertices.size(), stagedVertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        // Positions and texture coordinates as staged; only the normals are new.
        EXPECT_EQ(std::memcmp(mesh.vertices[v].position, stagedVertices[v].position, 12), 0);
        EXPECT_EQ(mesh.vertices[v].u, stagedVertices[v].u);
        EXPECT_EQ(mesh.vertices[v].v, stagedVertices[v].v);
    }
}

TEST_F(BlockMeshes, WeldedGpuMeshOfTwoTrianglesHasFourVertices) {
    const std::vector<MeshVertex> corners = {
        {{1, 0, 0}, {0, 0, 1}, 0.1f, 0.2f}, {{0, 2, 0}, {0, 0, 1}, 0.3f, 0.4f},
        {{0, 0, 3}, {0, 0, 1}, 0.5f, 0.6f}, {{0, 0, 3}, {0, 1, 0}, 0.7f, 0.2f},
        {{0, 2, 0}, {0, 1, 0}, 0.1f, 0.8f}, {{4, 4, 0}, {0, 1, 0}, 0.9f, 0.9f},
    };
    ID3DXMesh* gpuMesh = nullptr;
    ASSERT_TRUE(SUCCEEDED(D3DXCreateMeshFVF(2, 6, D3DXMESH_DYNAMIC,
                                            D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, stagingDevice,
                                            &gpuMesh)));
    void* data = nullptr;
    ASSERT_TRUE(SUCCEEDED(gpuMesh->LockVertexBuffer(D3DLOCK_DISCARD, &data)));
    std::memcpy(data, corners.data(), corners.size() * sizeof(MeshVertex));
    gpuMesh->UnlockVertexBuffer();
    ASSERT_TRUE(SUCCEEDED(gpuMesh->LockIndexBuffer(D3DLOCK_DISCARD, &data)));
    const std::uint16_t identity[6] = {0, 1, 2, 3, 4, 5};
    std::memcpy(data, identity, sizeof identity);
    gpuMesh->UnlockIndexBuffer();

    ID3DXMesh* welded = weldMesh(gpuMesh, 1, stagingDevice);
    ASSERT_NE(welded, nullptr);
    EXPECT_EQ(welded->GetNumVertices(), 4u);
    EXPECT_EQ(welded->GetNumFaces(), 2u);
    EXPECT_EQ(welded->GetNumBytesPerVertex(), sizeof(MeshVertex));
    const MeshContents contents = contentsOf(welded);
    EXPECT_EQ(contents.indices, (std::vector<std::uint16_t>{0, 1, 2, 2, 1, 3}));
    EXPECT_FLOAT_EQ(contents.vertices[1].u, 0.2f);
    EXPECT_FLOAT_EQ(contents.vertices[1].v, 0.6f);
    EXPECT_NEAR(contents.vertices[2].normal[1], std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(contents.vertices[2].normal[2], std::sqrt(0.5f), 1e-6f);
    // The source is left whole for the caller to release.
    EXPECT_EQ(gpuMesh->GetNumVertices(), 6u);
    welded->Release();
    gpuMesh->Release();
}

} // namespace
