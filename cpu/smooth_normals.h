// Smooth normals of a marching-cubes mesh by the mesh library's rule, over 32-bit indices and any
// number of vertices, so that a block's normals can be computed over the block and the apron of
// surface around it together.
//
// The rule, as GenerateAdjacency(epsilon) followed by D3DXComputeTangentFrameEx (normals only,
// computed in place, no vertex split) applies it, with vertices and faces taken in the order of
// the world's lattice rather than in index order, so that two neighbouring blocks, whose meshes
// number the surface along their common face differently, come to the same normals there:
// 1. Points: vertices closer than epsilon (or at equal positions) are one point. In the order of
//    their lattice edges, each vertex joins the first earlier representative near it, or becomes
//    one.
// 2. Adjacency: every face edge between two different points joins the first earlier edge, on
//    another face, that runs between the same two points the other way and has no partner yet;
//    faces come in the order of their cells, and within a cell in index order.
// 3. The two ends of every joined edge pair are one vertex for the normals (transitively), and so
//    are the two ends of every face edge within one point: the adjacency skips such an edge, so
//    without it the vertices around a collapsed sliver of a face, a thousandth apart, would keep
//    normals that differ by tens of degrees.
// 4. Each such vertex set sums, over the faces at its vertices, the face's unit normal
//    cross(p1 - p0, p2 - p0) times the face's angle at that corner; the sum, normalised, is the
//    normal of every vertex of the set. A set without a face of non-zero area gets (0, 0, 0).
#pragma once

#include "cpu/cpu_marching_cubes.h"
#include "terrain/terrain_state.h"

#include <cstdint>
#include <vector>

// Working memory of the computation, kept between calls so that a worker allocates only while
// its blocks grow. One per thread.
struct SmoothNormalScratch {
    // A face edge at a point of several vertices: a sort key and the edge's two vertices.
    struct SharedEdge {
        std::uint64_t key;
        std::int32_t from, to;
    };
    std::vector<std::int32_t> nearestPointHead; // per lattice point, all -1 between calls
    std::vector<std::uint32_t> usedPoints;
    std::vector<std::int32_t> nextNear;
    std::vector<std::int32_t> cluster;
    std::vector<std::int32_t> representative;
    std::vector<std::int32_t> pointSize;
    std::vector<std::int32_t> sharedPointNumber;
    std::vector<SharedEdge> sharedEdges;
    std::vector<std::int32_t> bucketEnds;
    std::vector<SharedEdge> bucketedEdges;
    std::vector<std::int32_t> waiting;
    std::vector<std::int32_t> parent;
    std::vector<double> sums;
};

// Computes the normals of vertices 0 .. keptVertexCount - 1 of `mesh` over all its faces and
// writes them to `kept[v].normal` (positions and texture coordinates untouched). Every vertex of
// `mesh` lies on its lattice edge, no edge has two vertices, and every index is below the vertex
// count; `kept` holds keptVertexCount entries (0 <= keptVertexCount <= the vertex count). A
// vertex whose position is not finite is a point of its own. `epsilon` is below half a unit.
void computeSmoothNormals(const ExtendedMesh& mesh, float epsilon, MeshVertex* kept,
                          int keptVertexCount, SmoothNormalScratch& scratch);
