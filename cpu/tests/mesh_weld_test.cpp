#include "cpu/mesh_weld.h"

#include "platform/d3d9/d3dx9math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace {

MeshVertex vertexAt(float x, float y, float z, float u = 0.0f, float v = 0.0f,
                    D3DXVECTOR3 normal = {0.0f, 0.0f, 1.0f}) {
    return MeshVertex{{x, y, z}, {normal.x, normal.y, normal.z}, u, v};
}

struct Welded {
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices;
};

// An unwelded triangle list, as the GPU makes it: corner c is vertex c.
Welded weld(const std::vector<MeshVertex>& corners, WeldScratch& scratch) {
    std::vector<std::uint16_t> identity(corners.size());
    std::iota(identity.begin(), identity.end(), std::uint16_t{0});
    Welded out;
    out.vertices.resize(corners.size());
    out.indices.resize(corners.size());
    const int count = weldTriangleList(corners.data(), static_cast<int>(corners.size()),
                                       identity.data(), static_cast<int>(corners.size()),
                                       out.vertices.data(), out.indices.data(), scratch);
    out.vertices.resize(static_cast<std::size_t>(count));
    return out;
}

Welded weld(const std::vector<MeshVertex>& corners) {
    WeldScratch scratch;
    return weld(corners, scratch);
}

double distance(const MeshVertex& a, const MeshVertex& b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = static_cast<double>(a.position[i]) - b.position[i];
        sum += d * d;
    }
    return std::sqrt(sum);
}

// The weld's rule by exhaustive search: each corner joins the earliest welded vertex within
// the weld distance, else makes one.
Welded bruteForceWeld(const std::vector<MeshVertex>& corners) {
    Welded out;
    for (const MeshVertex& corner : corners) {
        std::size_t match = 0;
        while (match < out.vertices.size() && !(distance(out.vertices[match], corner) < 0.01))
            ++match;
        if (match == out.vertices.size()) {
            out.vertices.push_back(corner);
        } else {
            MeshVertex& target = out.vertices[match];
            target.u = (target.u + corner.u) * 0.5f;
            target.v = (target.v + corner.v) * 0.5f;
            D3DXVECTOR3 sum(target.normal[0] + corner.normal[0],
                            target.normal[1] + corner.normal[1],
                            target.normal[2] + corner.normal[2]);
            D3DXVec3Normalize(&sum, &sum);
            std::memcpy(target.normal, &sum, sizeof target.normal);
        }
        out.indices.push_back(static_cast<std::uint16_t>(match));
    }
    return out;
}

// What every weld guarantees about its result for `corners`.
void expectWeldInvariants(const std::vector<MeshVertex>& corners, const Welded& welded) {
    ASSERT_EQ(welded.indices.size(), corners.size());
    int nextNew = 0;
    for (std::size_t c = 0; c < corners.size(); ++c) {
        const int index = welded.indices[c];
        ASSERT_LE(index, nextNew) << "vertices are numbered in order of first use, corner " << c;
        if (index == nextNew) {
            ++nextNew;
            EXPECT_EQ(std::memcmp(welded.vertices[index].position, corners[c].position,
                                  sizeof corners[c].position),
                      0)
                << "a welded vertex keeps its first corner's position";
        }
        EXPECT_LT(distance(welded.vertices[index], corners[c]), 0.01) << "corner " << c;
    }
    EXPECT_EQ(static_cast<std::size_t>(nextNew), welded.vertices.size());
    for (std::size_t a = 0; a < welded.vertices.size(); ++a)
        for (std::size_t b = a + 1; b < welded.vertices.size(); ++b)
            ASSERT_GE(distance(welded.vertices[a], welded.vertices[b]), 0.01)
                << "welded vertices " << a << " and " << b << " are one point";
}

TEST(MeshWeld, TwoTrianglesSharingAnEdgeBecomeFourVertices) {
    const D3DXVECTOR3 up(0.0f, 0.0f, 1.0f), tilted(0.6f, 0.0f, 0.8f);
    // Corners at different distances from the origin, all far more than 0.01 apart; the second
    // triangle repeats corners 1 and 2 of the first.
    const std::vector<MeshVertex> corners = {
        vertexAt(1.0f, 0.0f, 0.0f, 0.1f, 0.2f, up),
        vertexAt(0.0f, 2.0f, 0.0f, 0.3f, 0.4f, up),
        vertexAt(0.0f, 0.0f, 3.0f, 0.5f, 0.6f, up),
        vertexAt(0.0f, 0.0f, 3.0f, 0.7f, 0.2f, tilted),
        vertexAt(0.0f, 2.0f, 0.0f, 0.1f, 0.8f, tilted),
        vertexAt(4.0f, 4.0f, 0.0f, 0.9f, 0.9f, tilted),
    };
    const Welded welded = weld(corners);

    ASSERT_EQ(welded.vertices.size(), 4u);
    EXPECT_EQ(welded.indices, (std::vector<std::uint16_t>{0, 1, 2, 2, 1, 3}));
    const MeshVertex& second = welded.vertices[1];
    const MeshVertex& third = welded.vertices[2];
    EXPECT_FLOAT_EQ(second.u, 0.2f);
    EXPECT_FLOAT_EQ(second.v, 0.6f);
    EXPECT_FLOAT_EQ(third.u, 0.6f);
    EXPECT_FLOAT_EQ(third.v, 0.4f);
    // (0, 0, 1) + (0.6, 0, 0.8), normalised.
    const float length = std::sqrt(0.36f + 1.8f * 1.8f);
    for (const MeshVertex* shared : {&second, &third}) {
        EXPECT_NEAR(shared->normal[0], 0.6f / length, 1e-6f);
        EXPECT_NEAR(shared->normal[1], 0.0f, 1e-6f);
        EXPECT_NEAR(shared->normal[2], 1.8f / length, 1e-6f);
    }
    // The unshared vertices are copied as they came.
    EXPECT_EQ(std::memcmp(&welded.vertices[0], &corners[0], sizeof(MeshVertex)), 0);
    EXPECT_EQ(std::memcmp(&welded.vertices[3], &corners[5], sizeof(MeshVertex)), 0);
    expectWeldInvariants(corners, welded);
}

TEST(MeshWeld, FollowsTheSourceIndicesOfAnIndexedList) {
    const std::vector<MeshVertex> vertices = {vertexAt(0, 0, 0), vertexAt(1, 0, 0),
                                              vertexAt(0, 1, 0), vertexAt(0.005f, 0, 0)};
    const std::vector<std::uint16_t> source = {2, 1, 0, 3, 1, 2};
    std::vector<MeshVertex> out(source.size());
    std::vector<std::uint16_t> indices(source.size());
    WeldScratch scratch;
    const int count =
        weldTriangleList(vertices.data(), 4, source.data(), 6, out.data(), indices.data(), scratch);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(indices, (std::vector<std::uint16_t>{0, 1, 2, 2, 1, 0}));
    EXPECT_EQ(out[0].position[1], 1.0f);
}

// Points on a line, each 0.006 from the next: every point is within the weld distance of its
// neighbours but not of theirs.
std::vector<MeshVertex> chain(int points, float step) {
    std::vector<MeshVertex> corners;
    for (int k = 0; k < points; ++k)
        corners.push_back(vertexAt(2.0f + step * static_cast<float>(k), -1.0f, 0.5f,
                                   static_cast<float>(k) / points, 0.0f));
    return corners;
}

TEST(MeshWeld, ChainsMergeByFirstComeAndKeepTheInvariantsInAnyOrder) {
    const std::vector<MeshVertex> forward = chain(60, 0.006f);
    const Welded inOrder = weld(forward);
    expectWeldInvariants(forward, inOrder);
    // In order, each new vertex is 0.012 past the last one, which takes the point between.
    EXPECT_EQ(inOrder.vertices.size(), 30u);

    std::vector<MeshVertex> backward(forward.rbegin(), forward.rend());
    expectWeldInvariants(backward, weld(backward));

    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<MeshVertex> shuffled = forward;
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        const Welded welded = weld(shuffled);
        expectWeldInvariants(shuffled, welded);
        // However met, a welded vertex takes only points less than 0.01 away.
        EXPECT_GE(welded.vertices.size(), 20u); // each covers at most 3 points
        EXPECT_LE(welded.vertices.size(), 60u);
    }
}

// Random triangle lists whose corners crowd around few points, with exact repeats (as the GPU
// repeats shared corners) and near misses either side of the weld distance and of the cells.
std::vector<MeshVertex> crowdedCorners(std::mt19937& random, int cornerCount) {
    std::uniform_real_distribution<float> anchor(-16.0f, 16.0f);
    std::uniform_real_distribution<float> jitter(-0.012f, 0.012f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<MeshVertex> anchors(static_cast<std::size_t>(std::max(cornerCount / 8, 1)));
    for (MeshVertex& a : anchors) {
        // Some anchors sit on eighths, among them the borders of the weld's quarter-unit cells.
        const float x =
            unit(random) < 0.2f ? std::round(anchor(random) * 8.0f) / 8.0f : anchor(random);
        a = vertexAt(x, anchor(random), anchor(random), unit(random), unit(random),
                     {unit(random) - 0.5f, unit(random) - 0.5f, unit(random)});
    }
    std::vector<MeshVertex> corners;
    std::uniform_int_distribution<std::size_t> pick(0, anchors.size() - 1);
    while (static_cast<int>(corners.size()) < cornerCount) {
        MeshVertex corner = anchors[pick(random)];
        if (unit(random) < 0.6f)
            for (float& p : corner.position)
                p += jitter(random);
        corner.u = unit(random);
        corners.push_back(corner);
    }
    return corners;
}

TEST(MeshWeld, MatchesAnExhaustiveWeldOnRandomMeshes) {
    std::mt19937 random(2024);
    WeldScratch scratch; // reused from mesh to mesh, as a worker does
    for (int cornerCount : {30, 300, 3000, 9000, 1500}) {
        const std::vector<MeshVertex> corners = crowdedCorners(random, cornerCount);
        const Welded fast = weld(corners, scratch);
        const Welded exhaustive = bruteForceWeld(corners);
        ASSERT_EQ(fast.indices, exhaustive.indices) << cornerCount << " corners";
        ASSERT_EQ(fast.vertices.size(), exhaustive.vertices.size());
        EXPECT_EQ(std::memcmp(fast.vertices.data(), exhaustive.vertices.data(),
                              fast.vertices.size() * sizeof(MeshVertex)),
                  0);
        EXPECT_LT(fast.vertices.size(), corners.size()) << "the crowd must make merges";
        expectWeldInvariants(corners, fast);
    }
}

TEST(MeshWeld, AScratchReusedPastItsWeldNumbersKeepsNothingOfEarlierWelds) {
    // The first weld leaves slots that the welds after it, elsewhere, do not overwrite; once the
    // weld numbers wrap (after 65,535 welds) a weld at the first one's positions must not see them.
    const std::vector<MeshVertex> together = {vertexAt(0, 0, 0), vertexAt(0.004f, 0, 0),
                                              vertexAt(0, 1, 0)};
    const std::vector<MeshVertex> elsewhere = {vertexAt(5, 5, 5), vertexAt(6, 5, 5),
                                               vertexAt(5, 6, 5)};
    const std::vector<MeshVertex> apart = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(0, 1, 0)};
    WeldScratch scratch;
    ASSERT_EQ(weld(together, scratch).indices, (std::vector<std::uint16_t>{0, 0, 1}));
    for (int w = 2; w <= 65536; ++w)
        ASSERT_EQ(weld(elsewhere, scratch).indices, (std::vector<std::uint16_t>{0, 1, 2}));
    EXPECT_EQ(weld(apart, scratch).indices, (std::vector<std::uint16_t>{0, 1, 2}));
}

TEST(MeshWeld, CornersThatAreNotNumbersStayApart) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float huge = std::numeric_limits<float>::max();
    const std::vector<MeshVertex> corners = {
        vertexAt(nan, 0, 0),         vertexAt(nan, 0, 0),         vertexAt(0, 0, 0),
        vertexAt(huge, huge, -huge), vertexAt(huge, huge, -huge), vertexAt(0, 0, 0.001f)};
    const Welded welded = weld(corners);
    EXPECT_EQ(welded.indices, (std::vector<std::uint16_t>{0, 1, 2, 3, 3, 2}));
}

TEST(MeshWeld, TheLargestGpuMeshWeldsToItsDistinctCorners) {
    // 65,535 corners over a lattice 0.05 apart, each lattice point met several times.
    std::vector<MeshVertex> corners;
    for (int c = 0; c < blockMeshVertexLimit; ++c) {
        const int point = (c * 7919) % 20000;
        corners.push_back(vertexAt(0.05f * (point % 40), 0.05f * (point / 40 % 25),
                                   0.05f * (point / 1000), 0.5f, 0.5f));
    }
    const Welded welded = weld(corners);
    EXPECT_EQ(welded.vertices.size(), 20000u);
    for (std::size_t c = 0; c < corners.size(); ++c)
        ASSERT_EQ(distance(welded.vertices[welded.indices[c]], corners[c]), 0.0);
}

} // namespace
