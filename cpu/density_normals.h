// Normals from a block's density field, for the vertices that the smooth-normal computation
// leaves without one.
//
// Marching cubes puts a vertex exactly on a grid point where the density there is 0, and the
// triangles around such a point can all be degenerate (two or three corners on the one point).
// The mesh library gives a vertex that touches only degenerate faces a zero normal, which the
// renderer would light black or as NaN. The density field still knows which way the surface
// faces there: outward is where the density falls (inside is > 0), i.e. along minus its gradient.
#pragma once

#include "platform/d3d9/d3dx9math.h"
#include "terrain/terrain_state.h"

// A vertex at block position (x, y, z), each -16..16, lies at grid point
// (gx, gy, gz) = (x + 32, z + 32, y + 32) of the block's density readback: the mesher makes
// x = cx + px - 16, y = cz + pz - 16, z = cy + py - 16 for cell (cx, cy, cz), whose corner 0 is
// grid point (cx + 16, cy + 16, cz + 16).
constexpr float vertexToGridOffset = 2.0f * densityCellOrigin;

// The unit outward normal of the density field at block position `position` (3 floats): minus
// the gradient, from central differences at the eight grid points around it, interpolated
// trilinearly. `density` holds densityFloatsPerSlot entries in the readback layout. Where the
// gradient vanishes or the position is not finite, returns straight up (0, 1, 0).
D3DXVECTOR3 densityNormal(const float* density, const float* position);

// Gives every vertex whose normal is zero or not finite the density normal at its position.
// `vertices` holds `vertexCount` entries; `density` holds densityFloatsPerSlot entries. Returns
// how many normals it replaced.
int repairMissingNormals(MeshVertex* vertices, int vertexCount, const float* density);
