// D3DX 9 meshes: indexed triangle lists in one vertex stream, their adjacency, and the
// smooth-normal computation of D3DXComputeTangentFrameEx.
//
// A mesh is a default-pool vertex buffer, a 16-bit index buffer and a vertex declaration made
// through the device's public interface. Its data lives in memory until a draw uploads it, so
// a mesh may be created, locked, filled, cloned and released on any thread and drawn on the
// thread that renders. Its buffers count as default-pool objects of the device: release every
// mesh before resetting the device.
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"

// Mesh options. Both buffers are always in the default pool with 16-bit indices; the options
// choose only their usage (dynamic, write-only). Any other option is refused.
constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
constexpr DWORD D3DXMESH_VB_DYNAMIC = 0x080;
constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
constexpr DWORD D3DXMESH_IB_DYNAMIC = 0x800;
constexpr DWORD D3DXMESH_WRITEONLY = 0x440;
constexpr DWORD D3DXMESH_DYNAMIC = 0x880;

// Room for the longest declaration plus its D3DDECL_END().
constexpr int MAX_FVF_DECL_SIZE = MAXD3DDECLLENGTH + 1;

// D3DXComputeTangentFrameEx options (the full D3DX set, so that callers can name them; only
// D3DXTANGENT_CALCULATE_NORMALS | D3DXTANGENT_GENERATE_IN_PLACE is implemented).
enum D3DXTANGENT : DWORD {
    D3DXTANGENT_WRAP_U = 0x01,
    D3DXTANGENT_WRAP_V = 0x02,
    D3DXTANGENT_WRAP_UV = 0x03,
    D3DXTANGENT_DONT_NORMALIZE_PARTIALS = 0x04,
    D3DXTANGENT_DONT_ORTHOGONALIZE = 0x08,
    D3DXTANGENT_ORTHOGONALIZE_FROM_V = 0x010,
    D3DXTANGENT_ORTHOGONALIZE_FROM_U = 0x020,
    D3DXTANGENT_WEIGHT_BY_AREA = 0x040,
    D3DXTANGENT_WEIGHT_EQUAL = 0x080,
    D3DXTANGENT_WIND_CW = 0x0100,
    D3DXTANGENT_CALCULATE_NORMALS = 0x0200,
    D3DXTANGENT_GENERATE_IN_PLACE = 0x0400,
};

struct ID3DXMesh;
using LPD3DXMESH = ID3DXMesh*;

struct ID3DXMesh : IUnknown {
    // Draws the faces of attribute group `AttribId` on the mesh's device with the device's
    // current program; every face is in group 0 (the mesh has no attribute buffer), so any
    // other group draws nothing. Sets the device's vertex declaration, stream 0 and indices.
    virtual HRESULT DrawSubset(DWORD AttribId) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    // Copies the declaration, D3DDECL_END() included, into `Declaration`.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) = 0;
    // A new mesh on `pD3DDevice` with the same faces and vertices in `pDeclaration`'s layout:
    // each element is copied from the element of the same usage and usage index, which must
    // then have the same type; elements the source lacks are zero.
    virtual HRESULT CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                              IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppCloneMesh) = 0;
    virtual HRESULT LockVertexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    // 16-bit indices, three per face.
    virtual HRESULT LockIndexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    // Three entries per face: the face across edge (0, 1), (1, 2) and (2, 0), or 0xFFFFFFFF.
    // Vertices whose positions are less than `Epsilon` apart (or equal) are one point. Two
    // faces are adjacent when they share an edge between the same two points, run in opposite
    // directions (consistently wound); each edge joins at most one other face.
    virtual HRESULT GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) = 0;

  protected:
    ~ID3DXMesh() = default;
};

// NumVertices must be 1 to 65,535 (16-bit indices) and NumFaces at least 1. The declaration
// must use stream 0 only.
HRESULT D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options,
                       const D3DVERTEXELEMENT9* pDeclaration, IDirect3DDevice9* pD3DDevice,
                       LPD3DXMESH* ppMesh);
// FVF: D3DFVF_XYZ with optionally D3DFVF_NORMAL and D3DFVF_TEX1 (in that vertex order).
HRESULT D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                          IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppMesh);

// Smooth per-vertex normals, written in place into the FLOAT3 element of usage
// `dwNormalOutSemantic` and index `dwNormalOutIndex`. Implemented for: dwOptions exactly
// D3DXTANGENT_CALCULATE_NORMALS | D3DXTANGENT_GENERATE_IN_PLACE; no texture input and no
// partial outputs (all three semantics D3DX_DEFAULT); no output mesh and no vertex mapping.
// Everything else is refused with D3DERR_INVALIDCALL and the mesh is left as it was.
//
// Each face contributes its unit normal, cross(p1 - p0, p2 - p0), weighted by its angle at
// the vertex (D3DX's default weighting). Vertices that the adjacency joins across a shared
// edge are one point and get one normal from all faces around it; with no adjacency given,
// the adjacency of exactly coinciding positions is used. Vertices are never split (in place
// the vertex count cannot change), so the three thresholds have no effect.
HRESULT D3DXComputeTangentFrameEx(ID3DXMesh* pMesh, DWORD dwTextureInSemantic,
                                  DWORD dwTextureInIndex, DWORD dwUPartialOutSemantic,
                                  DWORD dwUPartialOutIndex, DWORD dwVPartialOutSemantic,
                                  DWORD dwVPartialOutIndex, DWORD dwNormalOutSemantic,
                                  DWORD dwNormalOutIndex, DWORD dwOptions,
                                  const DWORD* pdwAdjacency, FLOAT fPartialEdgeThreshold,
                                  FLOAT fSingularPointThreshold, FLOAT fNormalEdgeThreshold,
                                  ID3DXMesh** ppMeshOut, ID3DXBuffer** ppVertexMapping);
