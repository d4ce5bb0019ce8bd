// The meshes the block worker makes on its own thread: a block's mesh from the CPU mesher's
// staging buffers, with smooth normals, and the welded copy of a GPU-built mesh. Neither touches
// the per-block arrays; the worker publishes what they return.
#pragma once

#include "platform/d3d9/d3dx9.h"

// The smooth normals treat vertices closer than this as one point.
constexpr float adjacencyEpsilon = 0.09f;

enum class StagedMeshOutcome {
    built,          // the mesh is complete: every vertex and index copied, normals computed
    creationFailed, // D3DXCreateMeshFVF refused the mesh
    copyFailed,     // a buffer could not be locked; the half-made mesh was released
};

struct StagedMesh {
    ID3DXMesh* mesh; // owned by the caller; null unless built
    StagedMeshOutcome outcome;
};

// Makes the mesh of the slot's staged block: SlotCpuTriangleCounts[slot] faces (at least 1)
// over SlotCpuVertexCounts[slot] vertices (1..65,535) copied from WorkerStagingBuffers[slot],
// with smooth normals computed over the adjacency of points closer than adjacencyEpsilon, by the
// mesh library's rule (cpu/smooth_normals.h), over the block's faces and those of the one-cell
// apron around it that the slot's DensityReadback holds: the block meshed with cell step 1. A
// vertex that only degenerate faces touch gets its normal from the slot's DensityReadback. The
// staged vertices keep the normals; positions, texture coordinates and indices stay as staged.
StagedMesh meshFromStaging(int slot, IDirect3DDevice9* device);

// A new mesh of `mesh`'s faces, in order and winding, over its vertices welded as
// weldTriangleList does, in `mesh`'s vertex layout (MeshVertex). Uses the slot's working
// memory, so only the slot's worker may call it. Returns null, leaving `mesh` as it was, when
// the weld cannot be made (a lock or the creation failed, or the mesh is too large to weld).
ID3DXMesh* weldMesh(ID3DXMesh* mesh, int slot, IDirect3DDevice9* device);
