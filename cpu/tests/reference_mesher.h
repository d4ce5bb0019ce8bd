// An independent CPU mesher over a slot's density readback, to compare the mesher's output with.
#pragma once

#include "tables/marching_cubes_tables.h"
#include "terrain/terrain_state.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// An independent mesher over the same readback: edges named by their two grid points, vertices
// interpolated between grid positions, no edge cache, no capacity limits.
struct ReferenceMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<float> texcoords;
    std::vector<std::uint32_t> indices;
};

inline ReferenceMesh referenceMesh(int slot) {
    // Corner k's (x, y, z) offsets in the cell frame.
    static const int corner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                     {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const float* density = DensityReadback[slot];
    using GridPoint = std::array<int, 3>;
    std::map<std::pair<GridPoint, GridPoint>, std::uint32_t> vertexOfEdge;
    ReferenceMesh mesh;
    for (int cx = 0; cx < 32; ++cx)
        for (int cy = 0; cy < 32; ++cy)
            for (int cz = 0; cz < 32; ++cz) {
                GridPoint points[8];
                float values[8];
                int cubeCase = 0;
                for (int k = 0; k < 8; ++k) {
                    points[k] = {cx + 16 + corner[k][0], cy + 16 + corner[k][1],
                                 cz + 16 + corner[k][2]};
                    values[k] = density[densitySampleIndex(points[k][0], points[k][1], points[k][2])];
                    if (values[k] > 0.0f) cubeCase |= 1 << k;
                }
                const float cellValue = CubeReadback[slot][cubeTexelIndex(cx, cy, cz) * 4 + 1] / 255.0f;
                for (int i = 0; TriangleTable[cubeCase][i] != -1; ++i) {
                    const int edge = TriangleTable[cubeCase][i];
                    const int a = EdgeCorners[edge][0], b = EdgeCorners[edge][1];
                    const auto key = std::minmax(points[a], points[b]);
                    auto found = vertexOfEdge.find(key);
                    if (found != vertexOfEdge.end()) {
                        float& u = mesh.texcoords[found->second];
                        u = (u + cellValue) * 0.5f;
                        mesh.indices.push_back(found->second);
                        continue;
                    }
                    const float t = -values[a] / (values[b] - values[a]);
                    std::array<float, 3> grid;
                    for (int axis = 0; axis < 3; ++axis)
                        grid[axis] = points[a][axis] + t * (points[b][axis] - points[a][axis]);
                    // Block coordinates: centred, and the rows (grid z) become the vertical y.
                    const auto index = static_cast<std::uint32_t>(mesh.positions.size());
                    mesh.positions.push_back({grid[0] - 32.0f, grid[2] - 32.0f, grid[1] - 32.0f});
                    mesh.texcoords.push_back(cellValue);
                    mesh.indices.push_back(index);
                    vertexOfEdge.emplace(key, index);
                }
            }
    return mesh;
}

