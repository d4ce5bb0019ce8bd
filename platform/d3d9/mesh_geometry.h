// The geometry behind mesh adjacency and smooth normals, over locked mesh data. Pure: no
// device, no OpenGL.
#pragma once

#include "d3dx9math.h"

#include <cstdint>
#include <span>
#include <vector>

namespace d3dx {

constexpr DWORD noAdjacentFace = 0xFFFFFFFFu;

// Read-only view of an indexed triangle list with 16-bit indices.
struct TriangleMesh {
    const std::uint8_t* vertices = nullptr;
    std::uint32_t vertexCount = 0;
    std::uint32_t stride = 0;         // bytes per vertex
    std::uint32_t positionOffset = 0; // three floats at this byte of each vertex
    const std::uint16_t* indices = nullptr;
    std::uint32_t faceCount = 0;

    D3DXVECTOR3 position(std::uint32_t vertex) const;
    std::uint32_t corner(std::uint32_t face, std::uint32_t k) const {
        return indices[3 * face + k];
    }
    // Whether every index names a vertex of the mesh.
    bool indicesInRange() const;
};

// For each vertex, the vertex that stands for its point: vertices less than `epsilon` apart,
// or at equal positions, share one representative, the first vertex (in index order) of the
// point. A vertex joins the first earlier representative near it, so points never chain
// beyond `epsilon` from their representative. Positions that are not finite are their own.
std::vector<std::uint32_t> pointRepresentatives(const TriangleMesh& mesh, float epsilon);

// Three entries per face (edges (0,1), (1,2), (2,0)): the face sharing that edge between the
// same two points in the opposite direction, or noAdjacentFace. Faces are paired in order,
// each edge with at most one other face.
void faceAdjacency(const TriangleMesh& mesh, std::span<const std::uint32_t> representatives,
                   DWORD* adjacency);

// For each vertex, a representative shared by all vertices that the adjacency joins: the two
// ends of every shared edge. Returns false when an entry names no face of the mesh.
bool adjacencyRepresentatives(const TriangleMesh& mesh, const DWORD* adjacency,
                              std::vector<std::uint32_t>& representatives);

// Unit normals per vertex: at each point, the sum over the faces around it of the face's unit
// normal cross(p1 - p0, p2 - p0) times the face's angle at that point, normalised. A point
// without a non-degenerate face gets a zero normal.
std::vector<D3DXVECTOR3> angleWeightedNormals(const TriangleMesh& mesh,
                                              std::span<const std::uint32_t> representatives);

} // namespace d3dx
