// The computation of face weights, generic in the vector type, for the backends of
// face_weights.h only: each includes it with its own vector type and square root.
#pragma once

#include "cpu/face_weights.h"

#include <cassert>
#include <cstring>
#include <numbers>

namespace face_weights {

constexpr double pi = std::numbers::pi;

// atan(t) / t as a polynomial in u = t^2, for t in [0, 1]: a Chebyshev fit, within 1e-8. Powers
// of u in a tree rather than Horner's chain, whose nine steps each wait on the last. `Real` is
// double or a vector of doubles.
template <typename Real> Real atanOverT(Real u) {
    constexpr double c[] = {0.9999999817886558,  -0.3333303670929285,   0.1999187202926431,
                            -0.1419779779540799, 0.10618370642479312,   -0.07456854838521723,
                            0.04213762374570251, -0.015731249223588546, 0.0027662835283182277};
    const Real u2 = u * u, u4 = u2 * u2;
    const Real low = (c[0] + c[1] * u) + (c[2] + c[3] * u) * u2;
    const Real high = (c[4] + c[5] * u) + (c[6] + c[7] * u) * u2;
    return low + (high + c[8] * u4) * u4;
}

// atan2(y, x) for y >= 0 with selections rather than branches, which the corners' mix of acute
// and obtuse angles would mispredict (and which keep a vector's lanes apart).
template <typename Real> Real atan2OfNonNegative(Real y, Real x) {
    const Real zero = Real{} + 0.0, one = zero + 1.0;
    const Real ax = x < zero ? -x : x;
    const Real big = ax > y ? ax : y, small = ax > y ? y : ax;
    // The ratio in [0, 1].
    const Real t = small / (big > zero ? big : one);
    const Real angle = t * atanOverT(t * t);
    const Real folded = y > ax ? (zero + 0.5 * pi) - angle : angle;
    return x < zero ? (zero + pi) - folded : folded;
}

// weighFaces over `Real`, a vector of `sizeof(Real) / sizeof(double)` doubles, with `root` its
// square root. Every corner's two edges span the same twice-area, so each angle is one atan2 of
// it and the edges' dot product, and the three add up to pi.
template <typename Real, typename SquareRoot> void weighFacesWith(FaceRun& run, SquareRoot root) {
    constexpr int width = sizeof(Real) / sizeof(double);
    static_assert(FaceRun::length % width == 0);
    assert(run.count >= 0 && run.count <= FaceRun::length);
    auto load = [](const double* at) {
        Real v;
        std::memcpy(&v, at, sizeof v);
        return v;
    };
    auto store = [](double* at, Real v) { std::memcpy(at, &v, sizeof v); };
    const Real zero = Real{} + 0.0;
    for (int i = 0; i < run.count; i += width) {
        Real p[9];
        for (int a = 0; a < 9; ++a)
            p[a] = load(&run.corners[a][i]);
        const Real e01[3] = {p[3] - p[0], p[4] - p[1], p[5] - p[2]};
        const Real e02[3] = {p[6] - p[0], p[7] - p[1], p[8] - p[2]};
        const Real e12[3] = {p[6] - p[3], p[7] - p[4], p[8] - p[5]};
        const Real normal[3] = {e01[1] * e02[2] - e01[2] * e02[1],
                                e01[2] * e02[0] - e01[0] * e02[2],
                                e01[0] * e02[1] - e01[1] * e02[0]};
        const Real twiceArea =
            root(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        const Real angle0 =
            atan2OfNonNegative(twiceArea, e01[0] * e02[0] + e01[1] * e02[1] + e01[2] * e02[2]);
        const Real angle1 =
            atan2OfNonNegative(twiceArea, -(e01[0] * e12[0] + e01[1] * e12[1] + e01[2] * e12[2]));
        const Real rest = (zero + pi) - angle0 - angle1;
        const Real angle2 = rest > zero ? rest : zero;
        const Real perArea = (zero + 1.0) / twiceArea;
        for (int a = 0; a < 3; ++a)
            store(&run.normals[a][i], normal[a]);
        store(&run.twiceAreas[i], twiceArea);
        store(&run.weights[0][i], angle0 * perArea);
        store(&run.weights[1][i], angle1 * perArea);
        store(&run.weights[2][i], angle2 * perArea);
    }
}

} // namespace face_weights
