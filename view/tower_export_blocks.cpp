#include "view/tower_export_blocks.h"

#include "platform/d3d9/d3dx9.h"
#include "view/terrain_render.h"

#include <cassert>
#include <cstring>

BlockPlacement blockPlacement(int x, int y, int z) {
    const D3DXMATRIX world = blockWorldMatrix(x, y, z);
    assert(world(0, 0) == world(1, 1) && world(1, 1) == world(2, 2));
    return {world(0, 0), exportFrame(world(3, 0), world(3, 1), world(3, 2))};
}

bool blockHasMesh(int block) {
    return BlockTriangleCounts[block].load() > 0 && BlockMeshes[block] != nullptr;
}

ExportTotals exportTotals() {
    ExportTotals totals{};
    for (int block = 0; block < towerBlockCount; ++block) {
        if (!blockHasMesh(block)) continue;
        ++totals.blocks;
        totals.vertices += BlockMeshes[block]->GetNumVertices();
        totals.faces += BlockMeshes[block]->GetNumFaces();
    }
    return totals;
}

namespace {

// Fills `out` from the block's mesh. `out` is resized to the mesh's counts.
std::string readBlockMesh(ID3DXMesh* mesh, ExportBlock& out) {
    assert(mesh->GetNumBytesPerVertex() == sizeof(MeshVertex));
    out.vertices.resize(mesh->GetNumVertices());
    out.indices.resize(std::size_t{3} * mesh->GetNumFaces());
    void* vertices = nullptr;
    void* indices = nullptr;
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertices)))
        return "a block's vertices cannot be read";
    std::memcpy(out.vertices.data(), vertices, out.vertices.size() * sizeof(MeshVertex));
    mesh->UnlockVertexBuffer();
    if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &indices)))
        return "a block's indices cannot be read";
    std::memcpy(out.indices.data(), indices, out.indices.size() * sizeof(std::uint16_t));
    mesh->UnlockIndexBuffer();

    for (MeshVertex& v : out.vertices) {
        const ExportPoint p = exportFrame(v.position[0], v.position[1], v.position[2]);
        const ExportPoint n = exportFrame(v.normal[0], v.normal[1], v.normal[2]);
        v.position[0] = p.x, v.position[1] = p.y, v.position[2] = p.z;
        v.normal[0] = n.x, v.normal[1] = n.y, v.normal[2] = n.z;
    }
    // The mirror turns every face the other way; swapping two corners turns it back.
    for (std::size_t i = 0; i + 2 < out.indices.size(); i += 3)
        std::swap(out.indices[i + 1], out.indices[i + 2]);
    return {};
}

} // namespace

std::string forEachExportBlock(const std::function<void(const ExportBlock&)>& visit) {
    ExportBlock block{};
    for (int x = 0; x < towerBlocksPerAxis; ++x)
        for (int y = 0; y < towerBlocksPerAxis; ++y)
            for (int z = 0; z < towerBlocksPerAxis; ++z) {
                const int index = blockIndex(x, y, z);
                if (!blockHasMesh(index)) continue;
                block.x = x, block.y = y, block.z = z;
                const std::string problem = readBlockMesh(BlockMeshes[index], block);
                if (!problem.empty()) return problem;
                visit(block);
            }
    return {};
}
