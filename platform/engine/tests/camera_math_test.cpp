// The frame's view and projection matrices, checked by projecting points whose place on the
// screen is known from the camera's axes; and the data level's camera start, which must show
// the whole Tower.
#include "platform/engine/camera_math.h"
#include "platform/engine/level_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr EngineNumber one = 1024;

struct Clip {
    double x, y, z, w;
};

// Direct3D's row-vector product (x, y, z, 1) x view x projection.
Clip project(const float view[16], const float projection[16], double x, double y, double z) {
    double eye[4] = {};
    const double point[4] = {x, y, z, 1};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            eye[column] += point[row] * view[row * 4 + column];
    double clip[4] = {};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            clip[column] += eye[row] * projection[row * 4 + column];
    return {clip[0], clip[1], clip[2], clip[3]};
}

struct Matrices {
    float view[16];
    float projection[16];
};

Matrices matricesOf(const EngineCamera& camera, const engine::Projection& projection) {
    Matrices m{};
    engine::viewMatrix(camera, m.view);
    engine::projectionMatrix(projection, m.projection);
    return m;
}

// A point given in engine coordinates, projected to normalised device coordinates.
Clip deviceCoordinates(const Matrices& m, double x, double y, double z) {
    const Clip clip = project(m.view, m.projection, x, z, y); // engine x, y, z -> Direct3D x, z, y
    return {clip.x / clip.w, clip.y / clip.w, clip.z / clip.w, clip.w};
}

const engine::Projection wide{
    .horizontalFieldOfView = 90, .nearClip = 2, .farClip = 30000, .aspect = 2.0};

TEST(CameraMatrices, WhatLiesAheadIsCentredAndDepthRunsFromNearToFar) {
    EngineCamera camera{};
    camera.position = {100 * one, 200 * one, 50 * one};
    const Matrices m = matricesOf(camera, wide);

    const Clip ahead = deviceCoordinates(m, 1100, 200, 50);
    EXPECT_NEAR(ahead.x, 0, 1e-6);
    EXPECT_NEAR(ahead.y, 0, 1e-6);
    EXPECT_NEAR(ahead.w, 1000, 1e-3); // w is the distance along the view
    EXPECT_NEAR(deviceCoordinates(m, 102, 200, 50).z, 0, 1e-6);
    EXPECT_NEAR(deviceCoordinates(m, 30100, 200, 50).z, 1, 1e-6);
}

TEST(CameraMatrices, LeftIsLeftAndUpIsUpOnScreen) {
    EngineCamera camera{};
    const Matrices m = matricesOf(camera, wide);
    // Engine y is left: at 45 degrees off the axis it reaches the left edge (90 degree view).
    const Clip left = deviceCoordinates(m, 1000, 1000, 0);
    EXPECT_NEAR(left.x, -1, 1e-6);
    EXPECT_NEAR(left.y, 0, 1e-6);
    // Engine z is up; the vertical view is half as wide (aspect 2).
    const Clip up = deviceCoordinates(m, 1000, 0, 500);
    EXPECT_NEAR(up.x, 0, 1e-6);
    EXPECT_NEAR(up.y, 1, 1e-6);
}

TEST(CameraMatrices, PanAndTiltTurnTheView) {
    EngineCamera camera{};
    camera.angles = {90 * one, 0, 0}; // facing engine +y
    Matrices m = matricesOf(camera, wide);
    Clip ahead = deviceCoordinates(m, 0, 1000, 0);
    EXPECT_NEAR(ahead.x, 0, 1e-6);
    EXPECT_GT(ahead.w, 0);
    EXPECT_NEAR(deviceCoordinates(m, 1000, 1000, 0).x, 1, 1e-6); // +x is now on the right

    camera.angles = {0, -30 * one, 0}; // looking down
    m = matricesOf(camera, wide);
    ahead = deviceCoordinates(m, 1000, 0, -1000 * std::tan(std::numbers::pi / 6));
    EXPECT_NEAR(ahead.x, 0, 1e-6);
    EXPECT_NEAR(ahead.y, 0, 1e-6);

    camera.angles = {0, 0, 90 * one}; // rolled: the left side is lifted, so the sky is on the left
    m = matricesOf(camera, wide);
    EXPECT_NEAR(deviceCoordinates(m, 1000, 0, 300).x, -0.3, 1e-6);
}

TEST(CameraMatrices, LevelCameraStartShowsTheWholeTower) {
    std::ifstream file(std::string(GORVANE_DATA_DIR) + "/level.wmb", std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    const engine::LevelParse parsed = engine::parseLevel(bytes);
    ASSERT_TRUE(parsed.level && parsed.level->camera) << parsed.error;
    const engine::LevelCamera& start = *parsed.level->camera;
    EngineCamera camera{};
    camera.position = {start.x, start.y, start.z};
    camera.angles = {start.pan, start.tilt, start.roll};

    // The program's field of view (the engine's default, 90, applies only during start-up,
    // before any tower exists); a wide and a square-ish back buffer.
    const double fieldOfView = 100.0;
    for (const double aspect : {16.0 / 9.0, 4.0 / 3.0}) {
        const Matrices m = matricesOf(camera, {fieldOfView, 4, 30000, aspect});
        // Engine x and y from -320 to 2240, z from 180 to 2740.
        for (const double x : {-320.0, 2240.0})
            for (const double y : {-320.0, 2240.0})
                for (const double z : {180.0, 2740.0}) {
                    const Clip corner = deviceCoordinates(m, x, y, z);
                    EXPECT_LT(std::abs(corner.x), 1) << x << " " << y << " " << z;
                    EXPECT_LT(std::abs(corner.y), 1) << x << " " << y << " " << z;
                    EXPECT_GT(corner.z, 0);
                    EXPECT_LT(corner.z, 1);
                }
    }
}

} // namespace
