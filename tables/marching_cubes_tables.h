// The constant tables that drive marching cubes, shared by the GPU lookup textures and the CPU
// mesher. They are read-only data compiled into the program.
//
// Cell frame: a cell is a unit cube; corner k has offsets (x, y, z) in {0,1}^3 from corner 0:
//   corner  0 1 2 3 4 5 6 7
//   x       0 1 1 0 0 1 1 0
//   y       0 0 1 1 0 0 1 1
//   z       0 0 0 0 1 1 1 1
// The case index of a cell has bit k set when corner k lies inside the surface (density > 0).
//
// Every table is a plain two-dimensional array, so both TriangleTable[n][i] and the flat read
// (&TriangleTable[0][0])[16 * n + i] name the same element.
#pragma once

#include <cstdint>

constexpr int cubeCornerCount = 8;
constexpr int cubeEdgeCount = 12;
constexpr int cubeCaseCount = 256;
// Five triangles at most, three edges each, then at least one -1.
constexpr int triangleTableRowLength = 16;
// Directions the ray texture is filled from.
constexpr int rayDirectionCount = 128;

// Corner k's offsets, stored in the order (z, y, x).
extern const float CubeCorners[cubeCornerCount][3];

// The two corners edge e joins, first corner first; interpolation runs from the first corner
// towards the second.
extern const std::int32_t EdgeCorners[cubeEdgeCount][2];

// Weld key of edge e: (dz, dx, dy, axis). (dx, dy, dz) is the offset of the edge's lower end from
// corner 0 and axis the direction it runs in (0 = x, 1 = y, 2 = z). Added to a cell's grid
// coordinates it names the edge in the whole grid, the same for every cell sharing it.
extern const std::int32_t EdgeKeys[cubeEdgeCount][4];

// Row n lists the triangles of case n as edge numbers, three per triangle, followed by -1;
// element 15 is -1 in every row. Each triangle's right-handed normal points to the inside.
extern const std::int32_t TriangleTable[cubeCaseCount][triangleTableRowLength];

// Unit vectors scattered over the whole sphere, with no pattern between neighbouring rows.
extern const float RayDirections[rayDirectionCount][3];
