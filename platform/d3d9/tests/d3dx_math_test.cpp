#include "platform/d3d9/d3dx9core.h"
#include "platform/d3d9/d3dx9math.h"

#include "platform/d3d9/tests/refusal_of.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

D3DXMATRIX counting(float start) {
    D3DXMATRIX m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = start + float(4 * r + c);
    return m;
}

TEST(D3DXMath, MatrixElementAccessIsRowThenColumn) {
    const D3DXMATRIX m = counting(1.0f);
    EXPECT_EQ(m._12, 2.0f);
    EXPECT_EQ(m._41, 13.0f);
    EXPECT_EQ(m(3, 0), m._41);
    EXPECT_EQ(m(0, 3), m._14);
}

TEST(D3DXMath, MultiplyMatchesHandComputedProductAndAllowsAliasing) {
    const D3DXMATRIX a = counting(1.0f);  // rows 1..4, 5..8, 9..12, 13..16
    const D3DXMATRIX b = counting(-8.0f); // rows -8..-5, -4..-1, 0..3, 4..7
    // Row 0 of a x b: (1, 2, 3, 4) x b.
    const float row0[4] = {1 * -8 + 2 * -4 + 3 * 0 + 4 * 4, 1 * -7 + 2 * -3 + 3 * 1 + 4 * 5,
                           1 * -6 + 2 * -2 + 3 * 2 + 4 * 6, 1 * -5 + 2 * -1 + 3 * 3 + 4 * 7};
    // Row 3: (13, 14, 15, 16) x b.
    const float row3[4] = {13 * -8 + 14 * -4 + 15 * 0 + 16 * 4, 13 * -7 + 14 * -3 + 15 * 1 + 16 * 5,
                           13 * -6 + 14 * -2 + 15 * 2 + 16 * 6,
                           13 * -5 + 14 * -1 + 15 * 3 + 16 * 7};
    D3DXMATRIX product;
    EXPECT_EQ(D3DXMatrixMultiply(&product, &a, &b), &product);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(product(0, c), row0[c]);
        EXPECT_EQ(product(3, c), row3[c]);
    }

    D3DXMATRIX left = a;
    D3DXMatrixMultiply(&left, &left, &b);
    EXPECT_EQ(left, product);
    D3DXMATRIX right = b;
    D3DXMatrixMultiply(&right, &a, &right);
    EXPECT_EQ(right, product);
    D3DXMATRIX square = a, expectedSquare;
    D3DXMatrixMultiply(&expectedSquare, &a, &a);
    D3DXMatrixMultiply(&square, &square, &square);
    EXPECT_EQ(square, expectedSquare);
}

TEST(D3DXMath, ScalingThenTranslationPlacesARowVector) {
    D3DXMATRIX scale, translation, world, identity;
    D3DXMatrixScaling(&scale, 10.0f, 10.0f, 10.0f);
    D3DXMatrixTranslation(&translation, -160.0f, 340.0f, -160.0f);
    D3DXMatrixMultiply(&world, &scale, &translation);
    EXPECT_EQ(world, D3DXMATRIX(10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 10, 0, -160, 340, -160, 1));
    D3DXMatrixIdentity(&identity);
    D3DXMATRIX same;
    D3DXMatrixMultiply(&same, &world, &identity);
    EXPECT_EQ(same, world);
    // The point (1, 2, 3, 1) maps to (1, 2, 3) * 10 + translation.
    const float p[4] = {1, 2, 3, 1};
    float q[4] = {};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            q[c] += p[r] * world(r, c);
    EXPECT_EQ(q[0], -150.0f);
    EXPECT_EQ(q[1], 360.0f);
    EXPECT_EQ(q[2], -130.0f);
    EXPECT_EQ(q[3], 1.0f);
}

TEST(D3DXMath, PlaneNormalizeScalesAllFourTerms) {
    D3DXPLANE plane(3.0f, 0.0f, -4.0f, 10.0f);
    EXPECT_EQ(D3DXPlaneNormalize(&plane, &plane), &plane);
    EXPECT_FLOAT_EQ(plane.a, 0.6f);
    EXPECT_FLOAT_EQ(plane.b, 0.0f);
    EXPECT_FLOAT_EQ(plane.c, -0.8f);
    EXPECT_FLOAT_EQ(plane.d, 2.0f); // the distance of the origin, in units of the normal
    const D3DXPLANE flat(0.0f, 0.0f, 0.0f, 5.0f);
    D3DXPLANE out;
    D3DXPlaneNormalize(&out, &flat);
    EXPECT_EQ(out, D3DXPLANE(0, 0, 0, 0));
}

TEST(D3DXMath, VectorHelpers) {
    const D3DXVECTOR3 v(0.0f, 3.0f, -4.0f);
    D3DXVECTOR3 unit;
    D3DXVec3Normalize(&unit, &v);
    EXPECT_FLOAT_EQ(unit.y, 0.6f);
    EXPECT_FLOAT_EQ(unit.z, -0.8f);
    const D3DXVECTOR3 zero(0.0f, 0.0f, 0.0f);
    D3DXVec3Normalize(&unit, &zero);
    EXPECT_EQ(unit, zero);
    const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0);
    D3DXVECTOR3 z;
    D3DXVec3Cross(&z, &x, &y);
    EXPECT_EQ(z, D3DXVECTOR3(0, 0, 1));
    EXPECT_EQ(D3DXVec3Dot(&v, &v), 25.0f);
    EXPECT_EQ(D3DXVec3Length(&v), 5.0f);
}

TEST(D3DXBuffer, HoldsZeroedBytesUntilTheLastRelease) {
    ID3DXBuffer* buffer = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(24, &buffer), S_OK);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetBufferSize(), 24u);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer->GetBufferPointer());
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(bytes[i], 0);
    std::memset(buffer->GetBufferPointer(), 0xAB, 24); // writable, all of it
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);

    ASSERT_EQ(D3DXCreateBuffer(0, &buffer), S_OK);
    EXPECT_EQ(buffer->GetBufferSize(), 0u);
    buffer->Release();
    EXPECT_EQ(d3d9gl::refusalOf(D3DXCreateBuffer(4, nullptr)), d3d9gl::Refusal::NoBufferPointer);
}

} // namespace
