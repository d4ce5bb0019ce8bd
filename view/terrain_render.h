// The render hook: draws every visible block that has triangles with the render effect's
// technique "renderTerrain", and counts what it drew in vertexCount and polygonCount.
#pragma once

#include "platform/d3d9/d3dx9math.h"

// Copied from the engine at the start of every frame; viewPos is the camera in Direct3D axes
// (y up), w 0.
extern D3DXMATRIX viewMatrix;
extern D3DXMATRIX projMatrix;
extern D3DXVECTOR4 viewPos;

void renderTower();
void drawBlock(int x, int y, int z);

// A block's world matrix: scale 10, then translate to ((32x - 16) * 10, (32z - 16) * 10 + 500,
// (32y - 16) * 10).
D3DXMATRIX blockWorldMatrix(int x, int y, int z);
