// The camera's view frustum as six world-space planes, and the sphere test that culls blocks.
// Main thread only.
#pragma once

#include "platform/d3d9/d3dx9math.h"

constexpr float cullRadius = 320.0f;

// Left, right, top, bottom, near, far; a point is inside a plane when a*x + b*y + c*z + d >= 0.
extern D3DXPLANE frustumPlanes[6];

// Rebuilds the planes from a frame's view and projection matrices.
void updateFrustum(D3DXMATRIX view, D3DXMATRIX proj);

// 1 when the sphere may be visible, 0 when it lies wholly outside one plane.
int sphereInFrustum(float x, float y, float z, float r);
