// The lighting across block borders in each calculation mode, over 96 ground blocks of a tower:
// at every pair of coincident vertices on the faces that neighbouring blocks share, the two
// normals agree; and the CPU mode's meshes are those of an independent mesher of the same
// densities, so the normals' apron changed no vertex, index or count.
#include "cpu/tests/reference_mesher.h"
#include "gpu/block_generation.h"
#include "view/tests/seam_angles.h"
#include "view/tests/tower_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// x 1..6 (worker 0 takes 1..3, worker 1 4..6), y 2..5, z 2..5: the ground layers, with enough
// coincident vertices on each axis's faces.
constexpr BlockRange groundRanges[workerCount] = {{1, 2, 2, 4, 6, 6, 0}, {4, 2, 2, 7, 6, 6, 1}};
constexpr int firstX = 1, lastX = 6, first = 2, last = 5;

std::vector<std::uint16_t> indicesOf(ID3DXMesh* mesh) {
    std::vector<std::uint16_t> indices;
    void* data = nullptr;
    if (mesh == nullptr || FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data))) return indices;
    const auto* first = static_cast<const std::uint16_t*>(data);
    indices.assign(first, first + 3 * mesh->GetNumFaces());
    mesh->UnlockIndexBuffer();
    return indices;
}

TEST(SeamNormals, AgreeAcrossBlockBordersInEveryModeOverTheMeshersOwnVertices) {
    startProgram();
    std::vector<MeshVertex> cpuVertices[towerBlockCount];
    std::vector<std::uint16_t> cpuIndices[towerBlockCount];
    std::int32_t triangles[3][towerBlockCount] = {};
    for (std::int32_t mode : {CpuMeshGpuDensity, GpuOnly, GpuVerticesCpuWeld}) {
        emptyEveryBlock();
        runWorkersOver(groundRanges, mode);
        std::vector<MeshVertex> vertices[towerBlockCount];
        for (int i = 0; i < towerBlockCount; ++i) {
            triangles[mode][i] = BlockTriangleCounts[i].load();
            if (triangles[mode][i] > 0) vertices[i] = seam_angles::verticesOf(BlockMeshes[i]);
            if (mode == CpuMeshGpuDensity && triangles[mode][i] > 0) {
                cpuVertices[i] = vertices[i];
                cpuIndices[i] = indicesOf(BlockMeshes[i]);
            }
        }
        for (int axis = 0; axis < 3; ++axis) {
            std::vector<double> degrees;
            for (int x = firstX; x <= lastX; ++x)
                for (int y = first; y <= last; ++y)
                    for (int z = first; z <= last; ++z) {
                        const int next[3] = {x + (axis == 0), y + (axis == 1), z + (axis == 2)};
                        if (next[axis] > (axis == 0 ? lastX : last)) continue;
                        seam_angles::addSeamAngles(vertices[blockIndex(x, y, z)],
                                                   vertices[blockIndex(next[0], next[1], next[2])],
                                                   axis, degrees);
                    }
            EXPECT_GE(degrees.size(), 1000u) << "mode " << mode << " axis " << axis;
            EXPECT_LT(seam_angles::percentile(degrees, 0.999), 0.5) << "mode " << mode << " axis " << axis;
            EXPECT_LT(seam_angles::maximum(degrees), 5.0) << "mode " << mode << " axis " << axis;
        }
    }

    // The same densities again, meshed independently.
    for (int x = firstX; x <= lastX; ++x)
        for (int y = first; y <= last; ++y)
            for (int z = first; z <= last; ++z) {
                const int i = blockIndex(x, y, z);
                ASSERT_TRUE(renderBlockDensity(x, y, z, DensityReadback[0]));
                const ReferenceMesh reference = referenceMesh(0);
                const auto referenceTriangles = static_cast<std::int32_t>(reference.indices.size() / 3);
                for (int mode = CpuMeshGpuDensity; mode <= GpuVerticesCpuWeld; ++mode)
                    EXPECT_EQ(triangles[mode][i], referenceTriangles) << "block " << i << " mode " << mode;
                ASSERT_EQ(cpuVertices[i].size(), reference.positions.size()) << "block " << i;
                ASSERT_EQ(cpuIndices[i].size(), reference.indices.size()) << "block " << i;
                for (std::size_t k = 0; k < cpuIndices[i].size(); ++k)
                    ASSERT_EQ(cpuIndices[i][k], reference.indices[k]) << "block " << i << " index " << k;
                for (std::size_t v = 0; v < cpuVertices[i].size(); ++v)
                    for (int a = 0; a < 3; ++a)
                        ASSERT_NEAR(cpuVertices[i][v].position[a], reference.positions[v][a], 1e-4f)
                            << "block " << i << " vertex " << v;
            }
}

} // namespace
