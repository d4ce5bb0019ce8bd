#include "cpu/block_meshes.h"

#include "cpu/cpu_marching_cubes.h"
#include "cpu/density_normals.h"
#include "cpu/mesh_weld.h"
#include "cpu/smooth_normals.h"
#include "terrain/scoped_lock.h"
#include "terrain/terrain_state.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD stagedMeshFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// Per slot: the block with the apron of surface around it, over which its normals are taken.
struct NormalBuffers {
    ExtendedMesh extended;
    SmoothNormalScratch scratch;
};
NormalBuffers normalBuffers[workerCount];

// Smooth normals of the staged block, over the block and its apron together, so that a vertex on
// the block's face sees the faces on both sides of it, as its neighbour's copy does. Only the
// staged normals change; the apron's vertices and faces go no further. `vertices` holds the
// SlotCpuVertexCounts[slot] vertices and `indices` the 3 * SlotCpuTriangleCounts[slot] indices
// that buildBlockOnCpu(0, slot) staged.
void computeStagedNormals(int slot, MeshVertex* vertices, const std::uint16_t* indices) {
    const int vertexCount = SlotCpuVertexCounts[slot];
    assert(vertexCount > 0 && SlotCpuTriangleCounts[slot] > 0 && vertices != nullptr &&
           indices != nullptr);
    ExtendedMesh& extended = normalBuffers[slot].extended;
    meshWithApron(slot, indices, extended);
    computeSmoothNormals(extended, adjacencyEpsilon, vertices, vertexCount,
                         normalBuffers[slot].scratch);
    repairMissingNormals(vertices, vertexCount, DensityReadback[slot]);
}

// Gives the slot's staged vertices their normals and copies them and the staged indices into
// `mesh`. False when a lock failed.
bool copyStagedBlock(int slot, ID3DXMesh* mesh, int vertexCount, int triangleCount) {
    const StagingBuffers& staging = WorkerStagingBuffers[slot];
    const LockedVertexBuffer stagedVertices(staging.vertices, D3DLOCK_DISCARD);
    const LockedIndexBuffer stagedIndices(staging.indices, D3DLOCK_DISCARD, bool(stagedVertices));
    const LockedMeshVertices meshVertices({mesh}, D3DLOCK_DISCARD, bool(stagedIndices));
    const LockedMeshIndices meshIndices({mesh}, D3DLOCK_DISCARD, bool(meshVertices));
    if (!meshIndices) return false;
    computeStagedNormals(slot, stagedVertices.as<MeshVertex>(), stagedIndices.as<std::uint16_t>());
    std::memcpy(meshVertices.as<void>(), stagedVertices.as<void>(),
                static_cast<std::size_t>(vertexCount) * sizeof(MeshVertex));
    std::memcpy(meshIndices.as<void>(), stagedIndices.as<void>(),
                static_cast<std::size_t>(triangleCount) * 3 * sizeof(std::uint16_t));
    return true;
}

// Per slot: the welded vertices and indices of the block being welded.
struct WeldBuffers {
    WeldScratch scratch;
    std::vector<MeshVertex> vertices;
    std::vector<std::uint16_t> indices;
};
WeldBuffers weldBuffers[workerCount];

} // namespace

StagedMesh meshFromStaging(int slot, IDirect3DDevice9* device) {
    assert(slot >= 0 && slot < workerCount);
    const int vertexCount = SlotCpuVertexCounts[slot];
    const int triangleCount = SlotCpuTriangleCounts[slot];
    assert(triangleCount > 0 && vertexCount > 0);

    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(static_cast<DWORD>(triangleCount), static_cast<DWORD>(vertexCount),
                                 D3DXMESH_DYNAMIC, stagedMeshFvf, device, &mesh)) ||
        mesh == nullptr)
        return {nullptr, StagedMeshOutcome::creationFailed};
    if (!copyStagedBlock(slot, mesh, vertexCount, triangleCount)) {
        mesh->Release();
        return {nullptr, StagedMeshOutcome::copyFailed};
    }

    return {mesh, StagedMeshOutcome::built};
}

ID3DXMesh* weldMesh(ID3DXMesh* mesh, int slot, IDirect3DDevice9* device) {
    assert(mesh != nullptr && slot >= 0 && slot < workerCount);
    const int faceCount = static_cast<int>(mesh->GetNumFaces());
    const int cornerCount = faceCount * 3;
    if (mesh->GetNumBytesPerVertex() != sizeof(MeshVertex) || cornerCount > blockMeshVertexLimit)
        return nullptr;

    WeldBuffers& buffers = weldBuffers[slot];
    buffers.vertices.resize(static_cast<std::size_t>(cornerCount));
    buffers.indices.resize(static_cast<std::size_t>(cornerCount));
    int weldedCount = 0;
    {
        const LockedMeshVertices sourceVertices({mesh}, D3DLOCK_READONLY);
        const LockedMeshIndices sourceIndices({mesh}, D3DLOCK_READONLY, bool(sourceVertices));
        if (!sourceIndices) return nullptr;
        weldedCount = weldTriangleList(
            sourceVertices.as<MeshVertex>(), static_cast<int>(mesh->GetNumVertices()),
            sourceIndices.as<std::uint16_t>(), cornerCount, buffers.vertices.data(),
            buffers.indices.data(), buffers.scratch);
    }

    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    ID3DXMesh* welded = nullptr;
    if (FAILED(mesh->GetDeclaration(declaration)) ||
        FAILED(D3DXCreateMesh(static_cast<DWORD>(faceCount), static_cast<DWORD>(weldedCount),
                              D3DXMESH_DYNAMIC, declaration, device, &welded)) ||
        welded == nullptr)
        return nullptr;
    bool copied = false;
    {
        const LockedMeshVertices vertices({welded}, D3DLOCK_DISCARD);
        const LockedMeshIndices indices({welded}, D3DLOCK_DISCARD, bool(vertices));
        if (indices) {
            std::memcpy(indices.as<void>(), buffers.indices.data(),
                        static_cast<std::size_t>(cornerCount) * sizeof(std::uint16_t));
            std::memcpy(vertices.as<void>(), buffers.vertices.data(),
                        static_cast<std::size_t>(weldedCount) * sizeof(MeshVertex));
            copied = true;
        }
    }
    if (!copied) {
        welded->Release();
        return nullptr;
    }
    return welded;
}
