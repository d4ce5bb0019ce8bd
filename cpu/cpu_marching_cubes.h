// CPU marching cubes over a block's density readback.
//
// Turns the slot's DensityReadback and CubeReadback into an indexed triangle list written
// straight into the slot's staging buffers. A vertex is made once per grid edge and shared by
// every cell meeting at that edge, so the mesh comes out welded within the block. Runs on the
// slot's own worker without any lock: it touches only its slot's state.
#pragma once

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
// that fits and stops there.
void buildBlockOnCpu(std::int32_t lodLevel, std::int32_t slot);

// The surface in the one-cell apron around a block: the cells -1 and 32 on any axis, from the
// readback's margin. Apron vertices are numbered on from those already in `positions`; every
// apron face uses only apron vertices, one per grid edge, so where an apron cell meets the block
// its vertices repeat the block's at the same positions.
struct ApronMesh {
    std::vector<float> positions;        // x, y, z of each vertex, block coordinates
    std::vector<std::uint32_t> indices;  // three per face
};

// Appends the apron of the slot's block, with cell step 1, to `mesh`. Touches nothing that
// buildBlockOnCpu wrote; only the slot's worker may call it.
void appendApron(std::int32_t slot, ApronMesh& mesh);
