// Properties of the cell-frame tables and the triangle table, each checked against an
// independent description of the cube rather than against the table's own literals.
#include "tables/marching_cubes_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

using Vec3 = std::array<double, 3>; // (x, y, z)

Vec3 subtract(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The corner numbering written out from its definition: the bottom face (z = 0) counter-
// clockwise from the origin seen from above, then the top face in the same order.
std::array<int, 3> cornerOffsetsXYZ(int corner) {
    return {(corner ^ (corner >> 1)) & 1, (corner >> 1) & 1, (corner >> 2) & 1};
}

Vec3 cornerPosition(int corner) {
    const float* zyx = CubeCorners[corner];
    return {zyx[2], zyx[1], zyx[0]};
}

Vec3 edgeMidpoint(int edge) {
    const Vec3 a = cornerPosition(EdgeCorners[edge][0]);
    const Vec3 b = cornerPosition(EdgeCorners[edge][1]);
    return {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
}

bool cornerInside(int caseIndex, int corner) {
    return ((caseIndex >> corner) & 1) != 0;
}

bool edgeChangesSign(int caseIndex, int edge) {
    return cornerInside(caseIndex, EdgeCorners[edge][0]) !=
           cornerInside(caseIndex, EdgeCorners[edge][1]);
}

// The row read the way every consumer reads it: in steps of three from element 0 until -1.
std::vector<int> rowEdges(int caseIndex) {
    std::vector<int> edges;
    for (int k = 0; k < triangleTableRowLength && TriangleTable[caseIndex][k] != -1; k += 3) {
        edges.insert(edges.end(), &TriangleTable[caseIndex][k], &TriangleTable[caseIndex][k + 3]);
    }
    return edges;
}

TEST(CellFrame, CubeCornersHoldEachCornersOffsetsAsZYX) {
    for (int corner = 0; corner < cubeCornerCount; ++corner) {
        const auto [x, y, z] = cornerOffsetsXYZ(corner);
        EXPECT_EQ(CubeCorners[corner][0], z) << "corner " << corner;
        EXPECT_EQ(CubeCorners[corner][1], y) << "corner " << corner;
        EXPECT_EQ(CubeCorners[corner][2], x) << "corner " << corner;
    }
    // The eight corners are the eight distinct vertices of the unit cube.
    std::set<std::array<float, 3>> distinct;
    for (const auto& corner : CubeCorners) {
        distinct.insert({corner[0], corner[1], corner[2]});
    }
    EXPECT_EQ(distinct.size(), 8u);
}

TEST(CellFrame, EdgesRunRoundBothFacesInCornerOrderThenUpTheSides) {
    for (int edge = 0; edge < cubeEdgeCount; ++edge) {
        std::pair<int, int> expected;
        if (edge < 4) {
            expected = {edge, (edge + 1) % 4};
        } else if (edge < 8) {
            expected = {edge, 4 + (edge + 1) % 4};
        } else {
            expected = {edge - 8, edge - 4};
        }
        EXPECT_EQ(EdgeCorners[edge][0], expected.first) << "edge " << edge;
        EXPECT_EQ(EdgeCorners[edge][1], expected.second) << "edge " << edge;
    }
}

TEST(CellFrame, EdgeKeysGiveEachEdgesLowerEndAndTheAxisItsCornersDifferIn) {
    for (int edge = 0; edge < cubeEdgeCount; ++edge) {
        const auto a = cornerOffsetsXYZ(EdgeCorners[edge][0]);
        const auto b = cornerOffsetsXYZ(EdgeCorners[edge][1]);
        int differing = 0;
        int axis = -1;
        for (int c = 0; c < 3; ++c) {
            if (a[c] != b[c]) {
                ++differing;
                axis = c;
            }
        }
        ASSERT_EQ(differing, 1) << "edge " << edge << " is not a cube edge";
        const std::int32_t* key = EdgeKeys[edge];
        EXPECT_EQ(key[3], axis) << "edge " << edge;
        EXPECT_EQ(key[1], std::min(a[0], b[0])) << "edge " << edge << " dx";
        EXPECT_EQ(key[2], std::min(a[1], b[1])) << "edge " << edge << " dy";
        EXPECT_EQ(key[0], std::min(a[2], b[2])) << "edge " << edge << " dz";
    }
}

// What the keys are for: among a cell and all 26 neighbours, two edges get the same grid key
// exactly when they are the same segment of the grid.
TEST(CellFrame, GridKeysNameSharedEdgesOnce) {
    using Segment = std::set<std::array<int, 3>>;
    std::map<std::array<int, 4>, Segment> segmentOfKey;
    std::map<Segment, std::array<int, 4>> keyOfSegment;
    for (int cx = -1; cx <= 1; ++cx) {
        for (int cy = -1; cy <= 1; ++cy) {
            for (int cz = -1; cz <= 1; ++cz) {
                for (int edge = 0; edge < cubeEdgeCount; ++edge) {
                    Segment segment;
                    for (int end = 0; end < 2; ++end) {
                        const auto o = cornerOffsetsXYZ(EdgeCorners[edge][end]);
                        segment.insert({cx + o[0], cy + o[1], cz + o[2]});
                    }
                    const std::int32_t* k = EdgeKeys[edge];
                    const std::array<int, 4> key = {cz + k[0], cx + k[1], cy + k[2], k[3]};
                    const auto [byKey, newKey] = segmentOfKey.emplace(key, segment);
                    EXPECT_EQ(byKey->second, segment) << "one key names two segments";
                    const auto [bySegment, newSegment] = keyOfSegment.emplace(segment, key);
                    EXPECT_EQ(bySegment->second, key) << "one segment has two keys";
                    EXPECT_EQ(newKey, newSegment);
                }
            }
        }
    }
}

TEST(TriangleTable, EveryRowIsReadInStepsOfThreeUpToAMinusOneByElementFifteen) {
    for (int n = 0; n < cubeCaseCount; ++n) {
        const std::int32_t* row = TriangleTable[n];
        EXPECT_EQ(row[15], -1) << "case " << n;
        int k = 0;
        while (k < triangleTableRowLength && row[k] != -1) {
            for (int i = k; i < k + 3; ++i) {
                EXPECT_GE(row[i], 0) << "case " << n << " element " << i;
                EXPECT_LT(row[i], cubeEdgeCount) << "case " << n << " element " << i;
            }
            k += 3;
        }
        ASSERT_LE(k, 15) << "case " << n << " has no -1 on a triangle boundary";
        for (int i = k; i < triangleTableRowLength; ++i) {
            EXPECT_EQ(row[i], -1) << "case " << n << " element " << i << " after the end";
        }
    }
}

TEST(TriangleTable, RowsNameExactlyTheEdgesWhoseCornersDiffer) {
    for (int n = 0; n < cubeCaseCount; ++n) {
        const std::vector<int> edges = rowEdges(n);
        const std::set<int> named(edges.begin(), edges.end());
        std::set<int> changing;
        for (int edge = 0; edge < cubeEdgeCount; ++edge) {
            if (edgeChangesSign(n, edge)) {
                changing.insert(edge);
            }
        }
        EXPECT_EQ(named, changing) << "case " << n;
    }
}

TEST(TriangleTable, TriangleCountsPerRowMatchTheKnownDistribution) {
    std::array<int, 6> rowsWithCount{};
    int triangles = 0;
    for (int n = 0; n < cubeCaseCount; ++n) {
        const int count = static_cast<int>(rowEdges(n).size()) / 3;
        ASSERT_LE(count, 5) << "case " << n;
        EXPECT_EQ(count == 0, n == 0 || n == 255) << "case " << n;
        ++rowsWithCount[count];
        triangles += count;
    }
    EXPECT_EQ(rowsWithCount, (std::array<int, 6>{2, 16, 50, 80, 76, 32}));
    EXPECT_EQ(triangles, 820);
}

// "Towards the inside" is judged where the triangle meets the cell's edges: each vertex sits on
// an edge from an outside corner to an inside corner, and that edge direction is the way in at
// that point. The normal must have a positive component along the sum of those three
// directions. A global reference such as (centroid of inside corners - centroid of outside
// corners) is wrong for cases with separate pieces: in case 21 (corners 0, 2 and 4 inside) the
// lone triangle round corner 2 faces corner 2 yet points away from that direction, and in case
// 20 (corners 2 and 4) the direction is zero. Each single edge direction alone is too strict: in
// a fan of triangles one vertex's edge can run almost in the triangle's plane. The sum holds for
// all 820 triangles.
TEST(TriangleTable, TriangleNormalsPointTowardsTheInsideCorners) {
    for (int n = 0; n < cubeCaseCount; ++n) {
        const std::vector<int> edges = rowEdges(n);
        for (std::size_t t = 0; t < edges.size(); t += 3) {
            std::array<Vec3, 3> p;
            Vec3 inward = {0, 0, 0};
            for (int i = 0; i < 3; ++i) {
                const int edge = edges[t + i];
                p[i] = edgeMidpoint(edge);
                const Vec3 first = cornerPosition(EdgeCorners[edge][0]);
                const Vec3 second = cornerPosition(EdgeCorners[edge][1]);
                const Vec3 in = cornerInside(n, EdgeCorners[edge][0]) ? subtract(first, second)
                                                                      : subtract(second, first);
                for (int c = 0; c < 3; ++c) {
                    inward[c] += in[c];
                }
            }
            const Vec3 normal = cross(subtract(p[1], p[0]), subtract(p[2], p[0]));
            EXPECT_GT(dot(normal, normal), 0.0) << "case " << n << " triangle " << t / 3;
            EXPECT_GT(dot(normal, inward), 0.0) << "case " << n << " triangle " << t / 3;
        }
    }
}

// Each row is one consistently oriented surface patch per piece, closed inside the cell: a
// segment between two vertices that lies inside the cube is shared by exactly two triangles,
// which run it in opposite directions; a segment on a cube face is the patch's rim and belongs to
// one triangle only; and on every face each edge that changes sign is met by exactly one rim
// segment, so the patch has no hole.
TEST(TriangleTable, TrianglesOfARowFormClosedConsistentlyOrientedPatches) {
    // Faces are numbered axis * 2 + side: face 0 is x = 0, face 1 is x = 1, and so on.
    auto sharedFace = [](int u, int v) {
        const Vec3 a = edgeMidpoint(u);
        const Vec3 b = edgeMidpoint(v);
        for (int c = 0; c < 3; ++c) {
            if (a[c] == b[c] && (a[c] == 0.0 || a[c] == 1.0)) {
                return c * 2 + static_cast<int>(a[c]);
            }
        }
        return -1;
    };
    for (int n = 0; n < cubeCaseCount; ++n) {
        const std::vector<int> edges = rowEdges(n);
        std::map<std::pair<int, int>, int> directed;
        for (std::size_t t = 0; t < edges.size(); t += 3) {
            for (int i = 0; i < 3; ++i) {
                ++directed[{edges[t + i], edges[t + (i + 1) % 3]}];
            }
        }
        std::array<std::map<int, int>, 6> rimEndsPerFace;
        for (const auto& [segment, uses] : directed) {
            const auto [u, v] = segment;
            EXPECT_EQ(uses, 1) << "case " << n << " runs " << u << "->" << v << " twice";
            const bool reversed = directed.contains({v, u});
            const int face = sharedFace(u, v);
            if (face >= 0) {
                EXPECT_FALSE(reversed) << "case " << n << " rim " << u << "-" << v;
                ++rimEndsPerFace[face][u];
                ++rimEndsPerFace[face][v];
            } else {
                EXPECT_TRUE(reversed) << "case " << n << " open inner segment " << u << "-" << v;
            }
        }
        for (int edge = 0; edge < cubeEdgeCount; ++edge) {
            if (!edgeChangesSign(n, edge)) {
                continue;
            }
            for (int face = 0; face < 6; ++face) {
                if (edgeMidpoint(edge)[face / 2] == face % 2) {
                    EXPECT_EQ(rimEndsPerFace[face][edge], 1)
                        << "case " << n << " edge " << edge << " face " << face;
                }
            }
        }
    }
}

TEST(TriangleTable, KnownRowsMatchThePublishedTable) {
    const std::map<int, std::vector<int>> known = {
        {0, {}},
        {1, {0, 8, 3}},
        {2, {0, 1, 9}},
        {3, {1, 8, 3, 9, 8, 1}},
        {4, {1, 2, 10}},
        {5, {0, 8, 3, 1, 2, 10}},
        {6, {9, 2, 10, 0, 2, 9}},
        {7, {2, 8, 3, 2, 10, 8, 10, 9, 8}},
        {8, {3, 11, 2}},
        {9, {0, 11, 2, 8, 11, 0}},
        {10, {1, 9, 0, 2, 3, 11}},
        {11, {1, 11, 2, 1, 9, 11, 9, 8, 11}},
        {12, {3, 10, 1, 11, 10, 3}},
        {13, {0, 10, 1, 0, 8, 10, 8, 11, 10}},
        {14, {3, 9, 0, 3, 11, 9, 11, 10, 9}},
        {15, {9, 8, 10, 10, 8, 11}},
        {127, {7, 11, 6}},
        {128, {7, 6, 11}},
        {254, {0, 3, 8}},
        {255, {}},
    };
    for (const auto& [n, edges] : known) {
        EXPECT_EQ(rowEdges(n), edges) << "case " << n;
    }
}

} // namespace
