// The smooth normals of the block meshes against a brute-force computation of the same rule over
// the same faces, and the arctangent their corner angles use against the standard library's.
#include "cpu/smooth_normals.h"

#include "cpu/block_meshes.h"
#include "cpu/cpu_marching_cubes.h"
#include "cpu/tests/density_fields.h"
#include "cpu/tests/staging_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <cstring>
#include <vector>

namespace {

using namespace density_fields;

struct StagedBlock {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices;
};

StagedBlock stagedBlock(int slot) {
    buildBlockOnCpu(0, slot);
    StagedBlock block;
    void* data = nullptr;
    EXPECT_TRUE(SUCCEEDED(WorkerStagingBuffers[slot].vertices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const auto* vertices = static_cast<const MeshVertex*>(data);
    block.vertices.assign(vertices, vertices + SlotCpuVertexCounts[slot]);
    WorkerStagingBuffers[slot].vertices->Unlock();
    EXPECT_TRUE(SUCCEEDED(WorkerStagingBuffers[slot].indices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    const auto* indices = static_cast<const std::uint16_t*>(data);
    block.indices.assign(indices, indices + 3 * SlotCpuTriangleCounts[slot]);
    WorkerStagingBuffers[slot].indices->Unlock();
    return block;
}

// The rule computed the plain way: every earlier vertex tried for the point, edges paired by a
// search of all earlier edges, the two ends of each pair joined, angles by arccosine.
std::vector<MeshVertex> bruteForceNormals(const StagedBlock& block) {
    const std::size_t n = block.vertices.size(), corners = block.indices.size();
    auto position = [&](std::size_t v) { return block.vertices[v].position; };
    std::vector<std::size_t> point(n);
    for (std::size_t v = 0; v < n; ++v) {
        point[v] = v;
        for (std::size_t u = 0; u < v; ++u) {
            if (point[u] != u) continue;
            double d2 = 0.0;
            for (int i = 0; i < 3; ++i)
                d2 += (double(position(u)[i]) - position(v)[i]) * (double(position(u)[i]) - position(v)[i]);
            if (d2 < double(adjacencyEpsilon) * adjacencyEpsilon) {
                point[v] = u;
                break;
            }
        }
    }
    std::vector<std::size_t> parent(n);
    for (std::size_t v = 0; v < n; ++v)
        parent[v] = v;
    auto root = [&](std::size_t v) {
        while (parent[v] != v)
            v = parent[v];
        return v;
    };
    auto join = [&](std::size_t a, std::size_t b) {
        a = root(a), b = root(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    };
    auto corner = [&](std::size_t slot, int step) {
        return std::size_t(block.indices[slot - slot % 3 + (slot % 3 + step) % 3]);
    };
    // The unpaired edges between each two points, in face order.
    std::map<std::pair<std::size_t, std::size_t>, std::vector<std::size_t>> waiting;
    for (std::size_t slot = 0; slot < corners; ++slot) {
        const std::size_t from = point[corner(slot, 0)], to = point[corner(slot, 1)];
        if (from == to) continue;
        std::vector<std::size_t>& group = waiting[std::minmax(from, to)];
        auto partner = std::find_if(group.begin(), group.end(), [&](std::size_t other) {
            return point[corner(other, 0)] == to && other / 3 != slot / 3;
        });
        if (partner == group.end()) {
            group.push_back(slot);
            continue;
        }
        join(corner(slot, 0), corner(*partner, 1));
        join(corner(slot, 1), corner(*partner, 0));
        group.erase(partner);
    }
    std::vector<double> sums(3 * n, 0.0);
    for (std::size_t f = 0; f * 3 < corners; ++f) {
        double p[3][3];
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                p[k][i] = position(block.indices[3 * f + k])[i];
        auto edge = [&](int from, int to, int i) { return p[to][i] - p[from][i]; };
        double normal[3];
        for (int i = 0; i < 3; ++i)
            normal[i] = edge(0, 1, (i + 1) % 3) * edge(0, 2, (i + 2) % 3) -
                        edge(0, 1, (i + 2) % 3) * edge(0, 2, (i + 1) % 3);
        const double area2 = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        if (!(area2 > 0.0)) continue;
        for (int k = 0; k < 3; ++k) {
            const int a = (k + 1) % 3, b = (k + 2) % 3;
            double dot = 0.0, la = 0.0, lb = 0.0;
            for (int i = 0; i < 3; ++i) {
                dot += edge(k, a, i) * edge(k, b, i);
                la += edge(k, a, i) * edge(k, a, i);
                lb += edge(k, b, i) * edge(k, b, i);
            }
            const double angle = std::acos(std::clamp(dot / std::sqrt(la * lb), -1.0, 1.0));
            const std::size_t r = root(block.indices[3 * f + k]);
            for (int i = 0; i < 3; ++i)
                sums[3 * r + i] += angle * normal[i] / area2;
        }
    }
    std::vector<MeshVertex> result = block.vertices;
    for (std::size_t v = 0; v < n; ++v) {
        const double* sum = &sums[3 * root(v)];
        const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        for (int i = 0; i < 3; ++i)
            result[v].normal[i] = length > 0.0 ? float(sum[i] / length) : 0.0f;
    }
    return result;
}

class SmoothNormals : public testing::Test {
  protected:
    static void SetUpTestSuite() { createStagingBuffers(); }
    static void TearDownTestSuite() { releaseStagingBuffers(); }
};

TEST_F(SmoothNormals, EqualTheRuleComputedByBruteForce) {
    // Blocks with many points closer than the adjacency's epsilon: noisy ground, a ball, and
    // terraced ground whose vertices sit on grid points.
    fillDenseTerrain(0, 1);
    const StagedBlock dense = stagedBlock(0);
    fillSphere(0, 12.5f);
    const StagedBlock ball = stagedBlock(0);
    fillDensity(0, [](int gx, int gy, int gz) {
        return 32.0f + std::round(3.0f * valueNoise(gx / 7.0f, gy / 7.0f, 0.5f)) - float(gz);
    });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{7}; });
    const StagedBlock terraces = stagedBlock(0);

    for (const StagedBlock* block : {&dense, &ball, &terraces}) {
        ASSERT_GT(block->vertices.size(), 1000u);
        const std::vector<MeshVertex> expected = bruteForceNormals(*block);
        std::vector<float> positions;
        for (const MeshVertex& v : block->vertices)
            positions.insert(positions.end(), v.position, v.position + 3);
        const std::vector<std::uint32_t> indices(block->indices.begin(), block->indices.end());
        std::vector<MeshVertex> computed = block->vertices;
        SmoothNormalScratch scratch;
        computeSmoothNormals(positions.data(), static_cast<int>(computed.size()), indices.data(),
                             static_cast<int>(indices.size() / 3), adjacencyEpsilon,
                             computed.data(), static_cast<int>(computed.size()), scratch);
        for (std::size_t v = 0; v < computed.size(); ++v)
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_NEAR(computed[v].normal[axis], expected[v].normal[axis], 1e-5f)
                    << "vertex " << v << " axis " << axis;
    }
}

TEST_F(SmoothNormals, FastArctangentIsWithinAMillionthOfTheLibrarys) {
    double worst = 0.0;
    for (int i = 0; i <= 20000; ++i) {
        const double angle = 3.14159265358979323846 * i / 20000.0;
        for (double scale : {1e-6, 1.0, 1e6}) {
            const double y = scale * std::sin(angle), x = scale * std::cos(angle);
            worst = std::max(worst, std::fabs(fastAtan2(y, x) - std::atan2(y, x)));
        }
    }
    EXPECT_LT(worst, 1e-6);
}

} // namespace
