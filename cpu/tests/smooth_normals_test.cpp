// The smooth normals of block meshes with their aprons against a brute-force computation of the
// same rule over the same faces, and the arctangent their corner angles use against the standard
// library's.
#include "cpu/smooth_normals.h"

#include "cpu/block_meshes.h"
#include "cpu/cpu_marching_cubes.h"
#include "cpu/face_weights.h"
#include "cpu/tests/density_fields.h"
#include "cpu/tests/staging_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <utility>
#include <cmath>
#include <map>
#include <cstring>
#include <vector>

namespace {

using namespace density_fields;

// The slot's block as the mesher stages it, with the apron around it.
ExtendedMesh stagedBlockWithApron(int slot) {
    buildBlockOnCpu(0, slot);
    void* data = nullptr;
    ExtendedMesh mesh;
    EXPECT_TRUE(SUCCEEDED(WorkerStagingBuffers[slot].indices->Lock(0, 0, &data, D3DLOCK_READONLY)));
    meshWithApron(slot, static_cast<const std::uint16_t*>(data), mesh);
    WorkerStagingBuffers[slot].indices->Unlock();
    return mesh;
}

// The rule computed the plain way: vertices in the order of their lattice edges, every earlier
// one tried for the point; edges paired by a search of all earlier edges in the faces' order;
// the ends of each pair and of each edge within a point joined; angles by arccosine. Returns
// the normals of the first `keptCount` vertices.
std::vector<std::array<float, 3>> bruteForceNormals(const ExtendedMesh& mesh, std::size_t keptCount) {
    const std::size_t n = mesh.vertexEdges.size(), faces = mesh.faceCells.size();
    auto position = [&](std::size_t v) { return &mesh.positions[3 * v]; };
    std::vector<std::size_t> byEdge(n);
    std::iota(byEdge.begin(), byEdge.end(), std::size_t{0});
    std::sort(byEdge.begin(), byEdge.end(),
              [&](std::size_t a, std::size_t b) { return mesh.vertexEdges[a] < mesh.vertexEdges[b]; });
    std::vector<std::size_t> point(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t v = byEdge[i];
        point[v] = v;
        for (std::size_t j = 0; j < i; ++j) {
            const std::size_t u = byEdge[j];
            double d2 = 0.0;
            for (int a = 0; a < 3; ++a)
                d2 += (position(u)[a] - position(v)[a]) * (position(u)[a] - position(v)[a]);
            if (point[u] == u && d2 < double(adjacencyEpsilon) * adjacencyEpsilon) {
                point[v] = u;
                break;
            }
        }
    }
    std::vector<std::size_t> parent(n);
    std::iota(parent.begin(), parent.end(), std::size_t{0});
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
        return std::size_t(mesh.indices[slot - slot % 3 + (slot % 3 + step) % 3]);
    };
    std::vector<std::size_t> faceOrder(faces);
    std::iota(faceOrder.begin(), faceOrder.end(), std::size_t{0});
    std::stable_sort(faceOrder.begin(), faceOrder.end(),
                     [&](std::size_t a, std::size_t b) { return mesh.faceCells[a] < mesh.faceCells[b]; });
    // The unpaired edges between each two points, in the faces' order.
    std::map<std::pair<std::size_t, std::size_t>, std::vector<std::size_t>> waiting;
    for (std::size_t f : faceOrder)
        for (std::size_t slot = 3 * f; slot < 3 * f + 3; ++slot) {
            const std::size_t from = point[corner(slot, 0)], to = point[corner(slot, 1)];
            if (from == to) {
                join(corner(slot, 0), corner(slot, 1));
                continue;
            }
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
    for (std::size_t f = 0; f < faces; ++f) {
        double p[3][3];
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                p[k][i] = position(mesh.indices[3 * f + k])[i];
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
            const std::size_t r = root(mesh.indices[3 * f + k]);
            for (int i = 0; i < 3; ++i)
                sums[3 * r + i] += angle * normal[i] / area2;
        }
    }
    std::vector<std::array<float, 3>> normals(keptCount);
    for (std::size_t v = 0; v < keptCount; ++v) {
        const double* sum = &sums[3 * root(v)];
        const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        for (int i = 0; i < 3; ++i)
            normals[v][i] = length > 0.0 ? float(sum[i] / length) : 0.0f;
    }
    return normals;
}

class SmoothNormals : public testing::Test {
  protected:
    static void SetUpTestSuite() { createStagingBuffers(); }
    static void TearDownTestSuite() { releaseStagingBuffers(); }
};

TEST_F(SmoothNormals, EqualTheRuleComputedByBruteForce) {
    // Blocks with many points closer than the adjacency's epsilon, with their aprons: noisy
    // ground, a ball, and terraced ground whose vertices sit on grid points.
    fillDenseTerrain(0, 1);
    const ExtendedMesh dense = stagedBlockWithApron(0);
    const int denseKept = SlotCpuVertexCounts[0];
    fillSphere(0, 12.5f);
    const ExtendedMesh ball = stagedBlockWithApron(0);
    const int ballKept = SlotCpuVertexCounts[0];
    fillDensity(0, [](int gx, int gy, int gz) {
        return 32.0f + std::round(3.0f * valueNoise(gx / 7.0f, gy / 7.0f, 0.5f)) - float(gz);
    });
    fillCellValues(0, [](int, int, int) { return std::uint8_t{7}; });
    const ExtendedMesh terraces = stagedBlockWithApron(0);
    const int terracesKept = SlotCpuVertexCounts[0];

    ASSERT_GT(dense.vertexEdges.size(), std::size_t(denseKept)); // the ground runs into the apron
    const std::pair<const ExtendedMesh*, int> blocks[] = {
        {&dense, denseKept}, {&ball, ballKept}, {&terraces, terracesKept}};
    for (const auto& [mesh, keptCount] : blocks) {
        ASSERT_GT(keptCount, 1000);
        const auto expected = bruteForceNormals(*mesh, std::size_t(keptCount));
        std::vector<MeshVertex> computed(static_cast<std::size_t>(keptCount));
        SmoothNormalScratch scratch;
        computeSmoothNormals(*mesh, adjacencyEpsilon, computed.data(), keptCount, scratch);
        for (std::size_t v = 0; v < computed.size(); ++v)
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_NEAR(computed[v].normal[axis], expected[v][axis], 1e-5f)
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

// Random faces, some of them slivers, collinear or collapsed to a point, weighed by both backends:
// the same bits, and each corner's angle as the library's arccosine gives it.
TEST(FaceWeights, BackendsAgreeBitForBitAndWithTheLibrarysAngles) {
    std::mt19937 random(12);
    std::uniform_real_distribution<double> coordinate(-2.0, 2.0);
    FaceRun portable{};
    portable.count = FaceRun::length - 3; // a run that does not fill its last vector
    for (int i = 0; i < portable.count; ++i)
        for (int a = 0; a < 9; ++a)
            portable.corners[a][i] = coordinate(random);
    for (int a = 0; a < 3; ++a) {
        portable.corners[3 + a][0] = portable.corners[a][0];          // two corners at one point
        portable.corners[6 + a][1] = 2.0 * portable.corners[3 + a][1] // collinear
                                     - portable.corners[a][1];
        portable.corners[6 + a][2] = portable.corners[3 + a][2] + 1e-9; // a sliver
    }
    FaceRun avx2 = portable;
    weighFacesPortable(portable);

    for (int i = 0; i < portable.count; ++i) {
        double corner[3][3];
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                corner[k][a] = portable.corners[3 * k + a][i];
        if (!(portable.twiceAreas[i] > 1e-6)) continue;
        for (int k = 0; k < 3; ++k) {
            const double* p = corner[k];
            const double* q = corner[(k + 1) % 3];
            const double* r = corner[(k + 2) % 3];
            double pq = 0, pr = 0, dotted = 0;
            for (int a = 0; a < 3; ++a) {
                pq += (q[a] - p[a]) * (q[a] - p[a]);
                pr += (r[a] - p[a]) * (r[a] - p[a]);
                dotted += (q[a] - p[a]) * (r[a] - p[a]);
            }
            const double angle = std::acos(std::clamp(dotted / std::sqrt(pq * pr), -1.0, 1.0));
            EXPECT_NEAR(portable.weights[k][i] * portable.twiceAreas[i], angle, 1e-6)
                << "face " << i << " corner " << k;
        }
    }

    if (!avx2Available()) GTEST_SKIP() << "no AVX2 here: only the portable backend was checked";
    weighFacesAvx2(avx2);
    const auto bytes = static_cast<std::size_t>(portable.count) * sizeof(double);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(std::memcmp(portable.normals[a], avx2.normals[a], bytes), 0) << "normal " << a;
        EXPECT_EQ(std::memcmp(portable.weights[a], avx2.weights[a], bytes), 0) << "weight " << a;
    }
    EXPECT_EQ(std::memcmp(portable.twiceAreas, avx2.twiceAreas, bytes), 0);
}

} // namespace
