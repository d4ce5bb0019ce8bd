#include "view/frustum.h"

D3DXPLANE frustumPlanes[6];

void updateFrustum(D3DXMATRIX view, D3DXMATRIX proj) {
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &view, &proj);

    // A world point p lands at clip (x', y', z', w') = p x M, so column c of M gives that
    // clip coordinate; each plane is one clip-space half-space written as a sum of columns.
    auto column = [&m](int c) { return D3DXPLANE(m(0, c), m(1, c), m(2, c), m(3, c)); };
    auto sum = [](const D3DXPLANE& p, const D3DXPLANE& q, float sign) {
        return D3DXPLANE(p.a + sign * q.a, p.b + sign * q.b, p.c + sign * q.c, p.d + sign * q.d);
    };
    const D3DXPLANE x = column(0), y = column(1), z = column(2), w = column(3);
    frustumPlanes[0] = sum(x, w, 1.0f);  // x' >= -w'
    frustumPlanes[1] = sum(w, x, -1.0f); // x' <= w'
    frustumPlanes[2] = sum(w, y, -1.0f); // y' <= w'
    frustumPlanes[3] = sum(y, w, 1.0f);  // y' >= -w'
    frustumPlanes[4] = z;                // z' >= 0
    frustumPlanes[5] = sum(w, z, -1.0f); // z' <= w'

    for (D3DXPLANE& plane : frustumPlanes)
        D3DXPlaneNormalize(&plane, &plane);
}

int sphereInFrustum(float x, float y, float z, float r) {
    for (const D3DXPLANE& plane : frustumPlanes) {
        const float distance = plane.a * x + plane.b * y + plane.c * z + plane.d;
        // A NaN distance compares false and so never rejects.
        if (distance < -r) return 0;
    }
    return 1;
}
