// The program's own Direct3D objects for block generation and rendering: render targets and
// their system-memory readbacks, the two effects, the two screen quads and their declaration,
// the identity index array and the CPU path's staging buffers. Created once at start-up; the
// default-pool ones are released by the device-lost hook and made again by the device-reset
// hook. The lookup textures live in tables/lookup_textures.h.
//
// Handles of released objects are not cleared: between the two hooks nothing may touch them.
#pragma once

#include "platform/d3d9/d3dx9.h"
#include "terrain/terrain_state.h"

#include <cstdint>

// A target texture and its level-0 surface, fetched once after creation.
struct RenderTarget {
    IDirect3DTexture9* texture;
    IDirect3DSurface9* surface;
};

// A system-memory copy of a target and its surface, for GetRenderTargetData.
struct Readback {
    IDirect3DTexture9* texture;
    IDirect3DSurface9* surface;
};

// Sizes of the generation targets.
constexpr UINT densityMapWidth = 4096, densityMapHeight = 64;
constexpr UINT cubeMapWidth = 1024, cubeMapHeight = 32;
constexpr int pyramidLevels = 4;
constexpr UINT pyramidWidths[pyramidLevels] = {128, 16, 2, 1};
constexpr UINT pyramidHeights[pyramidLevels] = {16, 8, 4, 1};
constexpr UINT vertexTargetWidth = 256, vertexTargetHeight = 512;
constexpr UINT meshVertexTargetWidth = 512, meshVertexTargetHeight = 512;
// One block's density grid fills the DensityMap and its cells the CubeMap; the vertex targets
// keep each vertex in two texels and hold the largest block mesh.
static_assert(densityMapWidth == densityGridSize * densityGridSize &&
              densityMapHeight == densityGridSize);
static_assert(cubeMapWidth * cubeMapHeight == cubeTexelsPerSlot &&
              cubeMapHeight == blockCellsPerAxis);
constexpr UINT texelsPerTargetVertex = 2;
static_assert(vertexTargetWidth * vertexTargetHeight / texelsPerTargetVertex >=
              blockMeshVertexLimit);
static_assert(meshVertexTargetWidth * meshVertexTargetHeight / texelsPerTargetVertex >=
              blockMeshVertexLimit);

extern RenderTarget DensityMap;
extern Readback DensityMapReadback;
extern RenderTarget CubeMap;
extern Readback CubeMapReadback;
extern RenderTarget PolyCountPyramid[pyramidLevels]; // levels 1..4 at indices 0..3
extern Readback TotalReadback;
extern RenderTarget VertexTarget;
extern RenderTarget MeshVertexTarget;
extern Readback MeshVertexReadback;

// "createMap.fxo" and "renderMap.fx"; null while absent (a failed compile).
extern ID3DXEffect* generationEffect;
extern ID3DXEffect* renderEffect;

// The 24-byte vertex of the screen quads: clip position (x, y, z, w), texture coordinate (u, v).
struct QuadVertex {
    float x, y, z, w;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 24);

extern IDirect3DVertexDeclaration9* QuadDeclaration;
// The leftmost 64-texel strip of the DensityMap (the effect moves it to each slice), and the
// quad covering a whole CubeMap-sized target, both with Direct3D's half-texel shift.
extern IDirect3DVertexBuffer9* SliceQuad;
extern IDirect3DVertexBuffer9* FullQuad;
extern const QuadVertex sliceQuadVertices[4];
extern const QuadVertex fullQuadVertices[4];

// The MeshVertex element list every block mesh is made from, D3DDECL_END() included.
extern const D3DVERTEXELEMENT9 MeshDeclaration[4];

// Entry i is i: the indices of an unwelded GPU triangle list, as many as a block mesh has
// vertices at most.
extern std::uint16_t IdentityIndices[blockMeshVertexLimit];

// Effect files and the flags they are compiled with.
constexpr const char* generationEffectFile = "createMap.fxo";
constexpr const char* renderEffectFile = "renderMap.fx";
constexpr DWORD generationEffectFirstFlags =
    D3DXSHADER_DEBUG | D3DXSHADER_SKIPOPTIMIZATION | D3DXSHADER_AVOID_FLOW_CONTROL;
constexpr DWORD generationEffectResetFlags = 0;
constexpr DWORD renderEffectFlags = D3DXSHADER_USE_LEGACY_D3DX9_31_DLL;

// Compiles an effect file on `device`; on failure shows one "Fx Compile Error" box with the
// compiler's text (or a line naming the file when there is none) and returns null.
ID3DXEffect* createEffectReportingErrors(IDirect3DDevice9* device, const char* fileName,
                                         DWORD flags);

// First creation, on the main thread once d3dDevice (engine/engine_handles.h) holds the engine's
// device: initialises the GenerationLock, then every object above, the lookup textures and the
// staging buffers.
void createGpuResources();

// The device-lost hook: releases every default-pool object and every block mesh and empties
// every block. The device-reset hook: re-creates the targets, effects and quads. Both take
// GenerationLock, then BlockPublishLock, and the lost hook waits for the workers' mesh work and
// keeps it out until the reset hook has run (terrain/terrain_state.h). An object that cannot be
// created is named on standard error and its handle left null; passes that need it leave their
// blocks empty.
void releaseDeviceResources();
void restoreDeviceResources();
