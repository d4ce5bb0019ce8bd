// Smooth normals of an indexed triangle list by the mesh library's rule, over 32-bit indices and
// any number of vertices, so that a block's normals can be computed over the block and the apron
// of surface around it together.
//
// The rule, as GenerateAdjacency(epsilon) followed by D3DXComputeTangentFrameEx (normals only,
// computed in place, no vertex split) applies it:
// 1. Points: vertices closer than epsilon (or at equal positions) are one point. In index order,
//    each vertex joins the lowest-numbered earlier representative near it, or becomes one.
// 2. Adjacency: every face edge between two different points joins the first earlier edge, on
//    another face, that runs between the same two points the other way and has no partner yet.
// 3. The two ends of every joined edge pair are one vertex for the normals (transitively).
// 4. Each such vertex set sums, over the faces at its vertices, the face's unit normal
//    cross(p1 - p0, p2 - p0) times the face's angle at that corner; the sum, normalised, is the
//    normal of every vertex of the set. A set without a face of non-zero area gets (0, 0, 0).
#pragma once

#include "terrain/terrain_state.h"

#include <cstdint>
#include <vector>

// Working memory of the computation, kept between calls so that a worker allocates only while
// its blocks grow. One per thread.
struct SmoothNormalScratch {
    std::vector<std::uint64_t> cellKeys;
    std::vector<std::int32_t> cellNewest;
    std::vector<std::int32_t> nextInCell;
    std::vector<std::int32_t> representative;
    std::vector<std::int32_t> pointSize;
    std::vector<std::uint64_t> groupKeys;
    std::vector<std::int32_t> groupHead;
    std::vector<std::int32_t> groupTail;
    std::vector<std::int32_t> waitingSlot;
    std::vector<std::int32_t> waitingNext;
    std::vector<std::int32_t> parent;
    std::vector<double> sums;
};

// Computes the normals of vertices 0 .. keptVertexCount - 1 of the mesh over all its faces and
// writes them to `kept[v].normal` (positions and texture coordinates untouched).
// `positions` holds 3 * vertexCount floats (x, y, z of each vertex), `indices` holds 3 * faceCount entries each below
// vertexCount, and `kept` holds keptVertexCount entries (0 <= keptVertexCount <= vertexCount),
// whose positions are those of the first vertices of `positions`. Non-finite positions are points of
// their own. `epsilon` is below half a unit.
void computeSmoothNormals(const float* positions, int vertexCount, const std::uint32_t* indices,
                          int faceCount, float epsilon, MeshVertex* kept, int keptVertexCount,
                          SmoothNormalScratch& scratch);

// atan2(y, x) for y >= 0, within 1e-7 (a polynomial fit, no library call): the corner angles
// of the weighting without an arccosine each.
double fastAtan2(double y, double x);
