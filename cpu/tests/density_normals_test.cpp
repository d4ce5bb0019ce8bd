#include "cpu/density_normals.h"

#include "cpu/tests/density_fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace density_fields;

void expectNormal(const D3DXVECTOR3& actual, float x, float y, float z) {
    EXPECT_NEAR(actual.x, x, 1e-5f);
    EXPECT_NEAR(actual.y, y, 1e-5f);
    EXPECT_NEAR(actual.z, z, 1e-5f);
}

TEST(DensityNormals, PointAwayFromTheInsideAlongTheVertexAxes) {
    const float* density = DensityReadback[0];
    const float somewhere[3] = {3.25f, -7.5f, 11.0f};

    // Density falling along the rows: the rows are the vertex y axis (up).
    fillDensity(0, [](int, int, int gz) { return 40.0f - gz; });
    expectNormal(densityNormal(density, somewhere), 0.0f, 1.0f, 0.0f);
    // Rising along the columns (vertex x): outward is -x.
    fillDensity(0, [](int gx, int, int) { return 0.5f * gx - 3.0f; });
    expectNormal(densityNormal(density, somewhere), -1.0f, 0.0f, 0.0f);
    // Rising along the slices (vertex z): outward is -z.
    fillDensity(0, [](int, int gy, int) { return 2.0f * gy; });
    expectNormal(densityNormal(density, somewhere), 0.0f, 0.0f, -1.0f);
    // A slope: density 3 gx + 4 gz falls towards (-3, -4, 0) in vertex axes.
    fillDensity(0, [](int gx, int, int gz) { return 3.0f * gx + 4.0f * gz - 200.0f; });
    expectNormal(densityNormal(density, somewhere), -0.6f, -0.8f, 0.0f);
}

TEST(DensityNormals, PointOutOfABallAtItsGridPoints) {
    // A ball around grid point (32, 32, 32), the block's centre (0, 0, 0).
    fillDensity(0, [](int gx, int gy, int gz) {
        const float dx = gx - 32.0f, dy = gy - 32.0f, dz = gz - 32.0f;
        return 81.0f - (dx * dx + dy * dy + dz * dz);
    });
    // Grid point (41, 32, 32) is vertex (9, 0, 0); grid point (32, 26, 40) is vertex (0, 8, -6).
    const float east[3] = {9.0f, 0.0f, 0.0f}, slanted[3] = {0.0f, 8.0f, -6.0f};
    expectNormal(densityNormal(DensityReadback[0], east), 1.0f, 0.0f, 0.0f);
    expectNormal(densityNormal(DensityReadback[0], slanted), 0.0f, 0.8f, -0.6f);
}

TEST(DensityNormals, FallBackToUpWhereTheFieldGivesNoDirection) {
    fillDensity(0, [](int, int, int) { return 1.0f; });
    const float inside[3] = {0.0f, 0.0f, 0.0f};
    expectNormal(densityNormal(DensityReadback[0], inside), 0.0f, 1.0f, 0.0f);

    fillDensity(0, [](int gx, int, int) { return static_cast<float>(gx); });
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float lost[3] = {nan, 0.0f, 0.0f};
    expectNormal(densityNormal(DensityReadback[0], lost), 0.0f, 1.0f, 0.0f);
    // Far outside the block the nearest border of the field still gives its direction.
    const float far[3] = {1.0e6f, -1.0e6f, 50.0f};
    expectNormal(densityNormal(DensityReadback[0], far), -1.0f, 0.0f, 0.0f);
}

TEST(DensityNormals, RepairReplacesOnlyMissingNormals) {
    fillDensity(1, [](int, int, int gz) { return 30.0f - gz; });
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    MeshVertex vertices[4] = {
        {{1, 2, 3}, {0.0f, 0.0f, 1.0f}, 0.5f, 0.5f},
        {{1, 2, 3}, {0.0f, 0.0f, 0.0f}, 0.5f, 0.5f},
        {{-4, 5, 6}, {nan, 0.0f, 0.0f}, 0.5f, 0.5f},
        {{7, -8, 9}, {0.0f, inf, 0.0f}, 0.5f, 0.5f},
    };
    EXPECT_EQ(repairMissingNormals(vertices, 4, DensityReadback[1]), 3);
    EXPECT_EQ(vertices[0].normal[2], 1.0f);
    for (int i = 1; i < 4; ++i) {
        EXPECT_FLOAT_EQ(vertices[i].normal[0], 0.0f);
        EXPECT_FLOAT_EQ(vertices[i].normal[1], 1.0f);
        EXPECT_FLOAT_EQ(vertices[i].normal[2], 0.0f);
        EXPECT_EQ(vertices[i].u, 0.5f);
    }
}

} // namespace
