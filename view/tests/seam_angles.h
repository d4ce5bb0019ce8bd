// The lighting across block borders: for every pair of coincident vertices on the face that two
// neighbouring blocks share, the angle between their two normals.
#pragma once

#include "platform/d3d9/d3dx9.h"
#include "terrain/terrain_state.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace seam_angles {

// Vertices of two placed blocks closer than this on every axis, in cell units, are one point.
constexpr float coincidence = 1e-3f;

// The vertex axis along which the blocks of `blockAxis` (0 x, 1 y, 2 z of the block grid) follow
// each other: block y runs along the vertex z axis, block z (up) along the vertex y axis.
constexpr int vertexAxisOf(int blockAxis) {
    return blockAxis == 0 ? 0 : blockAxis == 1 ? 2 : 1;
}

inline std::vector<MeshVertex> verticesOf(ID3DXMesh* mesh) {
    std::vector<MeshVertex> vertices;
    void* data = nullptr;
    if (mesh == nullptr || FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) return vertices;
    const auto* first = static_cast<const MeshVertex*>(data);
    vertices.assign(first, first + mesh->GetNumVertices());
    mesh->UnlockVertexBuffer();
    return vertices;
}

inline double angleDegrees(const float* a, const float* b) {
    const double dot = double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
    const double lengths = std::sqrt(double(a[0]) * a[0] + double(a[1]) * a[1] + double(a[2]) * a[2]) *
                           std::sqrt(double(b[0]) * b[0] + double(b[1]) * b[1] + double(b[2]) * b[2]);
    if (!(lengths > 0.0)) return 180.0; // a missing normal counts as the worst seam
    return std::acos(std::clamp(dot / lengths, -1.0, 1.0)) * 180.0 / 3.14159265358979323846;
}

// Appends to `degrees` the angle of every coincident pair between `lower` and `upper`, the
// block one further along `blockAxis`. Both hold vertices in their own block frame (-16..16).
inline void addSeamAngles(const std::vector<MeshVertex>& lower, const std::vector<MeshVertex>& upper,
                          int blockAxis, std::vector<double>& degrees) {
    const int axis = vertexAxisOf(blockAxis);
    using Key = std::array<std::int64_t, 3>;
    auto keyOf = [](const float* p) {
        Key key;
        for (int i = 0; i < 3; ++i)
            key[i] = static_cast<std::int64_t>(std::floor(p[i] / (4.0f * coincidence)));
        return key;
    };
    std::multimap<Key, const MeshVertex*> lowerFace;
    for (const MeshVertex& v : lower)
        if (std::fabs(v.position[axis] - 16.0f) <= coincidence) lowerFace.emplace(keyOf(v.position), &v);
    for (const MeshVertex& v : upper) {
        if (std::fabs(v.position[axis] + 16.0f) > coincidence) continue;
        float placed[3] = {v.position[0], v.position[1], v.position[2]};
        placed[axis] += 32.0f;
        const Key home = keyOf(placed);
        for (int d = 0; d < 27; ++d) {
            const Key key = {home[0] + d % 3 - 1, home[1] + d / 3 % 3 - 1, home[2] + d / 9 - 1};
            const auto [first, last] = lowerFace.equal_range(key);
            for (auto it = first; it != last; ++it) {
                const float* p = it->second->position;
                if (std::fabs(p[0] - placed[0]) <= coincidence &&
                    std::fabs(p[1] - placed[1]) <= coincidence &&
                    std::fabs(p[2] - placed[2]) <= coincidence)
                    degrees.push_back(angleDegrees(it->second->normal, v.normal));
            }
        }
    }
}

// The value below which `fraction` of the angles lie (nearest rank); 0 for none.
inline double percentile(std::vector<double> degrees, double fraction) {
    if (degrees.empty()) return 0.0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(degrees.size()))) - 1;
    std::nth_element(degrees.begin(), degrees.begin() + std::min(rank, degrees.size() - 1),
                     degrees.end());
    return degrees[std::min(rank, degrees.size() - 1)];
}

inline double maximum(const std::vector<double>& degrees) {
    return degrees.empty() ? 0.0 : *std::max_element(degrees.begin(), degrees.end());
}

} // namespace seam_angles
