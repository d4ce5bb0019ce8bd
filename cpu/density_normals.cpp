#include "cpu/density_normals.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

// Grid coordinates whose central differences and upper neighbours stay inside the field.
constexpr float lowestGrid = 1.0f;
constexpr float highestGrid = static_cast<float>(densityGridSize - 2);

// The density gradient at grid point (gx, gy, gz), by central differences, as (d/dgx, d/dgy,
// d/dgz).
D3DXVECTOR3 gridGradient(const float* density, int gx, int gy, int gz) {
    auto at = [density](int x, int y, int z) { return density[densitySampleIndex(x, y, z)]; };
    return D3DXVECTOR3((at(gx + 1, gy, gz) - at(gx - 1, gy, gz)) * 0.5f,
                       (at(gx, gy + 1, gz) - at(gx, gy - 1, gz)) * 0.5f,
                       (at(gx, gy, gz + 1) - at(gx, gy, gz - 1)) * 0.5f);
}

bool finite(const D3DXVECTOR3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

D3DXVECTOR3 densityNormal(const float* density, const float* position) {
    assert(density != nullptr && position != nullptr);
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    // Vertex x runs along the grid's columns, vertex y along its rows, vertex z along its slices.
    const float grid[3] = {position[0] + vertexToGridOffset, position[2] + vertexToGridOffset,
                           position[1] + vertexToGridOffset};
    int base[3];
    float fraction[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(grid[axis])) return up;
        const float g = std::clamp(grid[axis], lowestGrid, highestGrid);
        base[axis] = std::min(static_cast<int>(g), static_cast<int>(highestGrid) - 1);
        fraction[axis] = g - static_cast<float>(base[axis]);
    }

    D3DXVECTOR3 gradient(0.0f, 0.0f, 0.0f);
    for (int corner = 0; corner < 8; ++corner) {
        const int d[3] = {corner & 1, (corner >> 1) & 1, (corner >> 2) & 1};
        float weight = 1.0f;
        for (int axis = 0; axis < 3; ++axis)
            weight *= d[axis] ? fraction[axis] : 1.0f - fraction[axis];
        gradient += gridGradient(density, base[0] + d[0], base[1] + d[1], base[2] + d[2]) * weight;
    }

    // Back to vertex axes (x, y, z) = (column, row, slice), pointing away from the inside.
    const D3DXVECTOR3 outward(-gradient.x, -gradient.z, -gradient.y);
    const float length = D3DXVec3Length(&outward);
    if (!(length > 0.0f) || !std::isfinite(length)) return up;
    return outward * (1.0f / length);
}

int repairMissingNormals(MeshVertex* vertices, int vertexCount, const float* density) {
    assert(vertexCount >= 0 && (vertexCount == 0 || vertices != nullptr));
    int repaired = 0;
    for (int i = 0; i < vertexCount; ++i) {
        float* n = vertices[i].normal;
        const D3DXVECTOR3 normal(n[0], n[1], n[2]);
        if (finite(normal) && D3DXVec3Length(&normal) > 0.0f) continue;
        const D3DXVECTOR3 repairedNormal = densityNormal(density, vertices[i].position);
        n[0] = repairedNormal.x;
        n[1] = repairedNormal.y;
        n[2] = repairedNormal.z;
        ++repaired;
    }
    return repaired;
}
