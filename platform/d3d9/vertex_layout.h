// Vertex declarations as D3DX meshes use them: one stream, elements found by usage.
#pragma once

#include "d3d9.h"

#include <optional>
#include <vector>

namespace d3dx {

struct VertexLayout {
    std::vector<D3DVERTEXELEMENT9> elements; // without the closing D3DDECL_END()
    UINT vertexSize = 0;                     // bytes, up to the end of the last element

    const D3DVERTEXELEMENT9* find(BYTE usage, BYTE usageIndex) const;
    // The declaration with its D3DDECL_END(), as Direct3D takes it.
    std::vector<D3DVERTEXELEMENT9> declaration() const;
};

// Bytes of one element of `type`, or 0 for a type meshes do not take.
UINT declTypeSize(BYTE type);

// Reads a declaration up to D3DDECL_END(); nothing when it is longer than MAXD3DDECLLENGTH,
// uses a stream other than 0, has an unknown type, or is empty.
std::optional<VertexLayout> readVertexLayout(const D3DVERTEXELEMENT9* declaration);

// The layout of a flexible vertex format made of D3DFVF_XYZ and optionally D3DFVF_NORMAL and
// D3DFVF_TEX1; nothing for any other format.
std::optional<VertexLayout> layoutFromFVF(DWORD fvf);

} // namespace d3dx
