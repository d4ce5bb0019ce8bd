// D3DX 9 math: vectors, planes and row-major matrices with D3DX's conventions.
//
// A D3DXMATRIX multiplies row vectors: a point p = (x, y, z, 1) maps to p x M, so a
// translation sits in row 4 (_41, _42, _43) and "A then B" is A x B. Every function returns
// its output pointer, as D3DX does, and every output may alias an input.
#pragma once

#include "d3d9.h"

#include <cmath>

// "Use the library's default" for sizes, filters and semantics.
constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;

struct D3DXVECTOR2 {
    float x, y;

    D3DXVECTOR2() = default;
    constexpr D3DXVECTOR2(float vx, float vy) : x(vx), y(vy) {}
    bool operator==(const D3DXVECTOR2&) const = default;
};

struct D3DXVECTOR3 : D3DVECTOR {
    D3DXVECTOR3() = default;
    constexpr D3DXVECTOR3(float vx, float vy, float vz) : D3DVECTOR{vx, vy, vz} {}

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return {x + v.x, y + v.y, z + v.z}; }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return {x - v.x, y - v.y, z - v.z}; }
    D3DXVECTOR3 operator*(float s) const { return {x * s, y * s, z * s}; }
    bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
};

struct D3DXVECTOR4 {
    float x, y, z, w;

    D3DXVECTOR4() = default;
    constexpr D3DXVECTOR4(float vx, float vy, float vz, float vw) : x(vx), y(vy), z(vz), w(vw) {}
    bool operator==(const D3DXVECTOR4&) const = default;
};

// The plane a*x + b*y + c*z + d = 0.
struct D3DXPLANE {
    float a, b, c, d;

    D3DXPLANE() = default;
    constexpr D3DXPLANE(float pa, float pb, float pc, float pd) : a(pa), b(pb), c(pc), d(pd) {}
    bool operator==(const D3DXPLANE&) const = default;
};

struct D3DXMATRIX : D3DMATRIX {
    D3DXMATRIX() = default;
    D3DXMATRIX(const D3DMATRIX& matrix) : D3DMATRIX(matrix) {}
    D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23,
               float m24, float m31, float m32, float m33, float m34, float m41, float m42,
               float m43, float m44);

    // Zero-based (row, column), as D3DX: operator()(3, 0) is _41.
    float& operator()(UINT row, UINT column) { return m[row][column]; }
    float operator()(UINT row, UINT column) const { return m[row][column]; }
    bool operator==(const D3DXMATRIX& other) const;
};

// The vector functions are inline, as D3DX's own are: the mesh code calls them per vertex.
inline FLOAT D3DXVec3Length(const D3DXVECTOR3* pV) {
    return std::sqrt(pV->x * pV->x + pV->y * pV->y + pV->z * pV->z);
}

inline FLOAT D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2) {
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z;
}

inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1,
                                  const D3DXVECTOR3* pV2) {
    const D3DXVECTOR3 cross(pV1->y * pV2->z - pV1->z * pV2->y, pV1->z * pV2->x - pV1->x * pV2->z,
                            pV1->x * pV2->y - pV1->y * pV2->x);
    *pOut = cross;
    return pOut;
}

// A zero vector normalises to zero, as in D3DX (no division by zero).
inline D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV) {
    const float length = D3DXVec3Length(pV);
    *pOut = length > 0.0f ? *pV * (1.0f / length) : D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    return pOut;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* pOut);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);

// Scales the plane so that (a, b, c) has unit length; a plane with a zero normal becomes zero.
D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP);
