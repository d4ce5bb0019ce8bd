// The Tower's blocks as the exports read them: each block's mesh in glTF's frame, and where the
// renderer places the block.
#pragma once

#include "terrain/terrain_state.h"
#include "view/tower_export.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One block's mesh in block coordinates of glTF's frame: positions and normals mirrored, each
// face's indices in reverse order.
struct ExportBlock {
    int x, y, z;
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices; // 3 per face
};

// The renderer's world matrix of a block (a uniform scale, then a translation) in glTF's frame:
// world = scale * block coordinates + translation.
struct BlockPlacement {
    float scale;
    ExportPoint translation;
};
BlockPlacement blockPlacement(int x, int y, int z);

// True for a block the renderer may draw: it has triangles and a mesh.
bool blockHasMesh(int block);

struct ExportTotals {
    int blocks;
    std::int64_t vertices;
    std::int64_t faces;
};
// The blocks, vertices and faces the exports write.
ExportTotals exportTotals();

// Calls `visit` with every block that has a mesh, in blockIndex order; the block passed is
// reused between calls. Empty on success, else the problem (a mesh that cannot be read).
std::string forEachExportBlock(const std::function<void(const ExportBlock&)>& visit);
