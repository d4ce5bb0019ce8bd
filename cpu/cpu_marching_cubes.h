// CPU marching cubes over a block's density readback.
//
// Turns the slot's DensityReadback and CubeReadback into an indexed triangle list written
// straight into the slot's staging buffers. A vertex is made once per grid edge and shared by
// every cell meeting at that edge, so the mesh comes out welded within the block. Runs on the
// slot's own worker without any lock: it touches only its slot's state.
#pragma once

#include "terrain/terrain_state.h"

#include <cstdint>
#include <vector>

// Cell step 2^lodLevel for lodLevel 0..maxLodLevel; 32 covers the block with one cell.
constexpr std::int32_t maxLodLevel = 5;

struct CellCorners {
    float density[8];      // in cube-corner order
    std::uint8_t caseIndex; // bit k set when corner k's density is greater than 0
};

// Reads the eight corner densities of cell (cx, cy, cz) of the slot's block, with cell step s.
CellCorners sampleCellCorners(int slot, int cx, int cy, int cz, int s);

// Meshes the slot's block with cell step 2^lodLevel. Leaves the vertices and indices in the
// slot's staging buffers and their counts in SlotCpuVertexCounts and SlotCpuTriangleCounts.
// A block that would overflow the vertex limit or the index buffer keeps every whole triangle
// that fits and stops there. Keeps, for meshWithApron, the lattice edge of each vertex with the
// two samples at its ends, and the cell of each face, in the slot's working memory.
void buildBlockOnCpu(std::int32_t lodLevel, std::int32_t slot);

// The lattice of a block with its one-cell apron: points -1 .. 33 on each cell axis (cells -1 ..
// 32). Keys grow with (x, y, z) in lexicographic order, so they order points, cells and edges the
// same way in every block's frame: the order of the world.
constexpr std::uint32_t extendedLatticeSize = blockCellsPerAxis + 3;
constexpr std::uint32_t extendedLatticePointCount =
    extendedLatticeSize * extendedLatticeSize * extendedLatticeSize;
constexpr std::uint32_t extendedLatticeEdgeCount = 3 * extendedLatticePointCount;

// Point (lx, ly, lz) in cell units, each -1 .. 33; cell (cx, cy, cz) has the key of its corner 0.
constexpr std::uint32_t latticePointKey(int lx, int ly, int lz) {
    const auto lattice = static_cast<int>(extendedLatticeSize);
    return static_cast<std::uint32_t>(((lx + 1) * lattice + ly + 1) * lattice + lz + 1);
}
// The coordinates (lx, ly, lz) of point `point`.
constexpr void latticeCoordinates(std::uint32_t point, int* lattice) {
    lattice[0] = static_cast<int>(point / (extendedLatticeSize * extendedLatticeSize)) - 1;
    lattice[1] = static_cast<int>(point / extendedLatticeSize % extendedLatticeSize) - 1;
    lattice[2] = static_cast<int>(point % extendedLatticeSize) - 1;
}
// The grid edge from point `point` along cell axis `axis` (0 x, 1 y, 2 z).
constexpr std::uint32_t latticeEdgeKey(std::uint32_t point, int axis) {
    return point * 3 + static_cast<std::uint32_t>(axis);
}
// What one step along each cell axis adds to a point key.
constexpr std::uint32_t latticePointStride[3] = {extendedLatticeSize * extendedLatticeSize,
                                                 extendedLatticeSize, 1};
// The vertex position component along each cell axis: cell x is x, cell y is z, cell z is y.
constexpr int positionComponentOfAxis[3] = {0, 2, 1};

// A block's mesh with its one-cell apron (the cells -1 and 32 on any axis, from the readback's
// margin), each vertex with its lattice edge and each face with its cell, in block coordinates.
// Positions are the exact crossings of the density along each edge, in double precision: two
// blocks that share a point come to bit-identical differences between its neighbours, which the
// staged floats, rounded in each block's own frame, do not give.
struct ExtendedMesh {
    std::vector<double> positions;          // x, y, z of each vertex
    std::vector<std::uint32_t> vertexEdges; // one per vertex, at most one vertex per edge
    std::vector<std::uint32_t> indices;     // three per face
    std::vector<std::uint32_t> faceCells;   // one per face
};

// Fills `mesh` with the block that buildBlockOnCpu(0, slot) staged, whose SlotCpuTriangleCounts
// [slot] faces `stagedIndices` holds (3 entries each), and with the apron around it, cell step 1.
// Apron vertices are numbered on from the block's; an apron face meets the block on the block's
// own vertices, so every edge keeps one vertex. Touches nothing that buildBlockOnCpu wrote; only
// the slot's worker may call it.
void meshWithApron(std::int32_t slot, const std::uint16_t* stagedIndices, ExtendedMesh& mesh);
