#include "view/frustum.h"

#include "platform/engine/camera_math.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace {

D3DXMATRIX identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

// An orthographic box x, y in [-1, 1], z in [0, 1024]: every plane comes out with an axis
// normal and an integer offset, so distances are exact and boundaries can be hit exactly.
D3DXMATRIX unitBox() {
    D3DXMATRIX m = identity();
    m(2, 2) = 1.0f / 1024.0f;
    return m;
}

float planeDistance(int plane, float x, float y, float z) {
    const D3DXPLANE& p = frustumPlanes[plane];
    return p.a * x + p.b * y + p.c * z + p.d;
}

EngineCamera camera(double x, double y, double z, double pan, double tilt, double roll) {
    auto number = [](double value) { return static_cast<EngineNumber>(value * 1024); };
    return EngineCamera{{number(x), number(y), number(z)},
                        {number(pan), number(tilt), number(roll)}};
}

// The view and projection matrices the engine makes for a camera, a field of view and an aspect.
void setFrustumFromCamera(const EngineCamera& eye, double fieldOfView, double aspect,
                          D3DXMATRIX& view, D3DXMATRIX& proj) {
    engine::viewMatrix(eye, &view.m[0][0]);
    engine::projectionMatrix(engine::Projection{fieldOfView, 4.0, 30000.0, aspect}, &proj.m[0][0]);
    updateFrustum(view, proj);
}

TEST(Frustum, PlanesOfAnAxisAlignedBoxAreItsSixFaces) {
    updateFrustum(identity(), unitBox());
    const std::array<D3DXPLANE, 6> expected = {
        D3DXPLANE(1, 0, 0, 1), D3DXPLANE(-1, 0, 0, 1), D3DXPLANE(0, -1, 0, 1),
        D3DXPLANE(0, 1, 0, 1), D3DXPLANE(0, 0, 1, 0),  D3DXPLANE(0, 0, -1, 1024),
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(frustumPlanes[i].a, expected[i].a) << "plane " << i;
        EXPECT_FLOAT_EQ(frustumPlanes[i].b, expected[i].b) << "plane " << i;
        EXPECT_FLOAT_EQ(frustumPlanes[i].c, expected[i].c) << "plane " << i;
        EXPECT_FLOAT_EQ(frustumPlanes[i].d, expected[i].d) << "plane " << i;
    }
}

TEST(Frustum, SphereJustTouchingAPlaneFromOutsideIsVisible) {
    updateFrustum(identity(), unitBox());
    // Centres exactly cullRadius outside each face in turn.
    EXPECT_EQ(sphereInFrustum(-1 - cullRadius, 0, 500, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(1 + cullRadius, 0, 500, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(0, 1 + cullRadius, 500, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(0, -1 - cullRadius, 500, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(0, 0, -cullRadius, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(0, 0, 1024 + cullRadius, cullRadius), 1);
}

TEST(Frustum, SphereHalfAUnitFurtherOutIsRejectedByAnySinglePlane) {
    updateFrustum(identity(), unitBox());
    const float out = cullRadius + 0.5f;
    EXPECT_EQ(sphereInFrustum(-1 - out, 0, 500, cullRadius), 0);
    EXPECT_EQ(sphereInFrustum(1 + out, 0, 500, cullRadius), 0);
    EXPECT_EQ(sphereInFrustum(0, 1 + out, 500, cullRadius), 0);
    EXPECT_EQ(sphereInFrustum(0, -1 - out, 500, cullRadius), 0);
    EXPECT_EQ(sphereInFrustum(0, 0, -out, cullRadius), 0);
    EXPECT_EQ(sphereInFrustum(0, 0, 1024 + out, cullRadius), 0);
}

TEST(Frustum, NotANumberNeverRejects) {
    updateFrustum(identity(), unitBox());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(sphereInFrustum(nan, 0, 500, cullRadius), 1);
    EXPECT_EQ(sphereInFrustum(0, 0, 500, nan), 1);
    // Far outside every plane, but the radius is not a number.
    EXPECT_EQ(sphereInFrustum(0, 0, -5000, nan), 1);
}

TEST(Frustum, BlockBehindTheCameraIsRejectedByTheNearPlane) {
    D3DXMATRIX view, proj;
    // At the origin looking along engine +x, which is Direct3D +x; the near plane is at x = 4.
    setFrustumFromCamera(camera(0, 0, 0, 0, 0, 0), 90, 4.0 / 3.0, view, proj);

    const float rejectedX = 4.0f - cullRadius - 1.0f;
    EXPECT_EQ(sphereInFrustum(rejectedX, 0, 0, cullRadius), 0);
    EXPECT_LT(planeDistance(4, rejectedX, 0, 0), -cullRadius);
    for (int plane : {0, 1, 2, 3, 5})
        EXPECT_GE(planeDistance(plane, rejectedX, 0, 0), -cullRadius) << "plane " << plane;

    EXPECT_EQ(sphereInFrustum(4.0f - cullRadius + 1.0f, 0, 0, cullRadius), 1);
}

TEST(Frustum, BlockBeyondTheFarPlaneIsRejectedByIt) {
    D3DXMATRIX view, proj;
    setFrustumFromCamera(camera(100, -50, 20, 0, 0, 0), 90, 4.0 / 3.0, view, proj);
    // The far plane's offset is the difference of two nearly equal projection terms, so in
    // 32-bit floats it lands within a few tens of units of 30000 ahead of the camera.
    const float farX = 100.0f + 30000.0f;
    const float rejectedX = farX + cullRadius + 100.0f;
    EXPECT_EQ(sphereInFrustum(rejectedX, 20, -50, cullRadius), 0);
    EXPECT_LT(planeDistance(5, rejectedX, 20, -50), -cullRadius);
    for (int plane = 0; plane < 5; ++plane)
        EXPECT_GE(planeDistance(plane, rejectedX, 20, -50), -cullRadius) << "plane " << plane;

    EXPECT_EQ(sphereInFrustum(farX + cullRadius - 100.0f, 20, -50, cullRadius), 1);
}

// Clip-space inside-ness of p x view x proj, computed in double precision from the matrices,
// against the sign of each plane's distance.
TEST(Frustum, PlaneSignsAgreeWithClipSpaceOfTransformedPoints) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> coordinate(-3000, 3000);
    std::uniform_real_distribution<double> angle(-180, 180);
    std::uniform_real_distribution<double> tilt(-89, 89);
    std::uniform_real_distribution<double> fieldOfView(30, 150);
    std::uniform_real_distribution<double> aspect(0.5, 2.5);

    int insideCount = 0, outsideCount = 0;
    for (int frustum = 0; frustum < 40; ++frustum) {
        D3DXMATRIX view, proj;
        setFrustumFromCamera(camera(coordinate(random), coordinate(random), coordinate(random),
                                    angle(random), tilt(random), angle(random)),
                             fieldOfView(random), aspect(random), view, proj);
        D3DXMATRIX viewProj;
        D3DXMatrixMultiply(&viewProj, &view, &proj);

        for (int point = 0; point < 500; ++point) {
            const double p[3] = {coordinate(random), coordinate(random), coordinate(random)};
            double clip[4];
            for (int c = 0; c < 4; ++c)
                clip[c] = p[0] * viewProj(0, c) + p[1] * viewProj(1, c) + p[2] * viewProj(2, c) +
                          viewProj(3, c);
            const double x = clip[0], y = clip[1], z = clip[2], w = clip[3];
            // Signed margins of the six clip-space conditions, in the plane order.
            const double margins[6] = {x + w, w - x, w - y, y + w, z, w - z};

            bool inside = true, nearBoundary = false;
            for (int plane = 0; plane < 6; ++plane) {
                const float distance = planeDistance(plane, float(p[0]), float(p[1]), float(p[2]));
                if (std::abs(margins[plane]) < 1e-3 * (std::abs(w) + 1) ||
                    std::abs(distance) < 0.5f) {
                    nearBoundary = true;
                    continue;
                }
                EXPECT_EQ(distance >= 0, margins[plane] >= 0) << "plane " << plane;
                inside = inside && margins[plane] >= 0;
            }
            if (nearBoundary) continue;
            EXPECT_EQ(sphereInFrustum(float(p[0]), float(p[1]), float(p[2]), 0.0f), inside ? 1 : 0);
            (inside ? insideCount : outsideCount)++;
        }
    }
    // Both outcomes must be well represented for the comparison to mean anything.
    EXPECT_GT(insideCount, 500);
    EXPECT_GT(outsideCount, 500);
}

} // namespace
