#include "platform/engine/camera_math.h"

#include "platform/engine/engine_state.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace engine {

namespace {

constexpr double farClip = 30000.0;

double radians(double degrees) {
    return degrees * (std::numbers::pi / 180.0);
}

// Engine coordinates to Direct3D's.
Real3 direct3d(const Real3& v) {
    return {v.x, v.z, v.y};
}

double dot(const Real3& a, const Real3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

} // namespace

Real3 rotateFromCamera(const Real3& v, double pan, double tilt, double roll) {
    const double cr = std::cos(radians(roll)), sr = std::sin(radians(roll));
    const Real3 rolled{v.x, v.y * cr - v.z * sr, v.y * sr + v.z * cr};
    const double ct = std::cos(radians(tilt)), st = std::sin(radians(tilt));
    const Real3 tilted{rolled.x * ct - rolled.z * st, rolled.y, rolled.x * st + rolled.z * ct};
    const double cp = std::cos(radians(pan)), sp = std::sin(radians(pan));
    return {tilted.x * cp - tilted.y * sp, tilted.x * sp + tilted.y * cp, tilted.z};
}

void viewMatrix(const EngineCamera& camera, float out[16]) {
    const double pan = fromEngineNumber(camera.angles.x);
    const double tilt = fromEngineNumber(camera.angles.y);
    const double roll = fromEngineNumber(camera.angles.z);
    const Real3 forward = direct3d(rotateFromCamera({1, 0, 0}, pan, tilt, roll));
    const Real3 left = direct3d(rotateFromCamera({0, 1, 0}, pan, tilt, roll));
    const Real3 up = direct3d(rotateFromCamera({0, 0, 1}, pan, tilt, roll));
    const Real3 right{-left.x, -left.y, -left.z};
    const Real3 eye =
        direct3d({fromEngineNumber(camera.position.x), fromEngineNumber(camera.position.y), fromEngineNumber(camera.position.z)});

    // Columns are the camera's right, up and forward axes: p * view gives camera coordinates.
    // clang-format off
    const double m[16] = {
        right.x,          up.x,          forward.x,          0,
        right.y,          up.y,          forward.y,          0,
        right.z,          up.z,          forward.z,          0,
        -dot(right, eye), -dot(up, eye), -dot(forward, eye), 1,
    };
    // clang-format on
    std::transform(m, m + 16, out, [](double value) { return static_cast<float>(value); });
}

void projectionMatrix(const Projection& projection, float out[16]) {
    const double xScale = 1.0 / std::tan(radians(projection.horizontalFieldOfView) / 2);
    const double yScale = xScale * projection.aspect;
    const double zn = projection.nearClip, zf = projection.farClip;
    // clang-format off
    const double m[16] = {
        xScale, 0,      0,                    0,
        0,      yScale, 0,                    0,
        0,      0,      zf / (zf - zn),       1,
        0,      0,      -zn * zf / (zf - zn), 0,
    };
    // clang-format on
    std::transform(m, m + 16, out, [](double value) { return static_cast<float>(value); });
}

Projection settingsProjection(int width, int height) {
    const EngineVariables& v = variables();
    return Projection{
        .horizontalFieldOfView = std::clamp(fromEngineNumber(v.fieldOfView), 1.0, 170.0),
        .nearClip = std::clamp(fromEngineNumber(v.nearClip), 0.01, 1000.0),
        .farClip = farClip,
        .aspect = static_cast<double>(width) / height,
    };
}

} // namespace engine
