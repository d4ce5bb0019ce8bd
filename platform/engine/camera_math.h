// Turning camera-space vectors into the world, and the frame's view and projection matrices.
//
// Camera space: x forward, y left, z up. The world has z up; Direct3D's world is the engine's
// with y and z swapped (engine x, y, z become Direct3D x, z, y).
#pragma once

#include "engine/engine.h"

namespace engine {

struct Real3 {
    double x, y, z;
};

// `v` turned by roll (about x), then tilt (about y, raising x toward z), then pan (about z,
// turning x toward y); angles in degrees.
Real3 rotateFromCamera(const Real3& v, double pan, double tilt, double roll);

struct Projection {
    double horizontalFieldOfView; // degrees
    double nearClip;
    double farClip;
    double aspect; // width / height
};

// Direct3D matrices (row vectors, left-handed, depth 0..1) of `camera`, row-major.
void viewMatrix(const EngineCamera& camera, float out[16]);
void projectionMatrix(const Projection& projection, float out[16]);

// The projection of the current settings for a back buffer of width x height: the field of
// view clamped to 1..170 degrees, the near clip to 0.01..1000, the far clip 30000.
Projection settingsProjection(int width, int height);

} // namespace engine
