// Welding an unwelded triangle list: vertices closer than weldDistance are merged into one.
//
// Each corner, in order, joins the earliest-made welded vertex whose position lies within
// weldDistance of its own, or makes a new welded vertex there. A welded vertex keeps the
// position of the corner that made it; every corner that joins it moves its texture coordinate
// half-way towards the corner's own ((u + source u) / 2, likewise v) and adds the corner's normal
// to its normal, which is then normalised again. Faces keep their order and winding; welded
// vertices are numbered in the order of their first use.
//
// What the result guarantees, whatever the input:
// - every corner's welded vertex lies less than weldDistance from the corner's position;
// - welded vertices lie at least weldDistance apart from each other (no two are one point);
// - the result depends only on the corners and their order (no hash or memory-order effects).
// Closeness is not transitive, so in a chain of points each closer than weldDistance to the
// next, which corners merge depends on the order in which the chain is met.
//
// A corner that repeats an earlier corner's position bit for bit (the corners of the triangles
// around one mesh vertex) joins that corner's welded vertex through a table of exact positions;
// the others search a spatial hash over quarter-unit cells, where a match can only lie in the
// corner's own cell or across the borders it is within weldDistance of.
#pragma once

#include "terrain/terrain_state.h"

#include <cstdint>
#include <vector>

constexpr double weldDistance = 0.01;

// Reusable working memory of the weld, so that a worker welding block after block allocates
// only while its blocks grow. One per thread. Its tables are not cleared between welds: each
// weld has its own number, and a slot written by an earlier weld counts as empty.
struct WeldScratch {
    struct ExactSlot {
        std::uint32_t position[3]; // a corner position's bits
        // The number of the weld that wrote the slot << 16 | the welded vertex that corners at
        // that position join.
        std::uint32_t taggedVertex;
    };
    struct Cell {
        std::uint64_t key;   // packed cell coordinates
        std::int32_t newest; // the cell's newest welded vertex
        std::uint32_t weld;  // the number of the weld that wrote the slot
    };
    std::vector<Cell> cells;              // hash slots; a weld uses the first ones it needs
    std::vector<Cell> cellsMoved;         // the slots before the table last grew
    std::vector<std::int32_t> nextInCell; // per welded vertex: the one made before it in its cell
    std::vector<ExactSlot> exactSlots;    // welded vertex by exact position
    std::uint32_t weld = 0;               // the number of the last weld, 1 .. 65535
};

// Welds the triangle list whose corner c is `vertices[sourceIndices[c]]`.
// `vertices` holds `vertexCount` entries; `sourceIndices` holds `cornerCount` entries, each below
// `vertexCount`; `cornerCount` is a multiple of 3 and at most blockMeshVertexLimit (the largest
// block mesh, so that the welded vertices, at most one per corner, take 16-bit indices too).
// `welded` has room for `cornerCount` vertices and `indices` for `cornerCount` entries. Returns the
// number of welded vertices written to `welded`; `indices` then holds the welded triangle list,
// corner for corner. A corner whose position is not a number matches nothing and gets a vertex of
// its own.
int weldTriangleList(const MeshVertex* vertices, int vertexCount,
                     const std::uint16_t* sourceIndices, int cornerCount, MeshVertex* welded,
                     std::uint16_t* indices, WeldScratch& scratch);
