#include "vertex_layout.h"

namespace d3dx {

const D3DVERTEXELEMENT9* VertexLayout::find(BYTE usage, BYTE usageIndex) const {
    for (const D3DVERTEXELEMENT9& element : elements)
        if (element.Usage == usage && element.UsageIndex == usageIndex) return &element;
    return nullptr;
}

std::vector<D3DVERTEXELEMENT9> VertexLayout::declaration() const {
    std::vector<D3DVERTEXELEMENT9> result = elements;
    result.push_back(D3DDECL_END());
    return result;
}

UINT declTypeSize(BYTE type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
        return 4;
    case D3DDECLTYPE_FLOAT2:
        return 8;
    case D3DDECLTYPE_FLOAT3:
        return 12;
    case D3DDECLTYPE_FLOAT4:
        return 16;
    case D3DDECLTYPE_D3DCOLOR:
        return 4;
    case D3DDECLTYPE_UBYTE4:
        return 4;
    default:
        return 0;
    }
}

std::optional<VertexLayout> readVertexLayout(const D3DVERTEXELEMENT9* declaration) {
    if (!declaration) return std::nullopt;
    VertexLayout layout;
    for (int i = 0;; ++i) {
        const D3DVERTEXELEMENT9& element = declaration[i];
        if (element.Stream == 0xFF) break;
        const UINT size = declTypeSize(element.Type);
        if (i == MAXD3DDECLLENGTH || element.Stream != 0 || size == 0) return std::nullopt;
        layout.elements.push_back(element);
        if (element.Offset + size > layout.vertexSize) layout.vertexSize = element.Offset + size;
    }
    if (layout.elements.empty()) return std::nullopt;
    return layout;
}

std::optional<VertexLayout> layoutFromFVF(DWORD fvf) {
    if (!(fvf & D3DFVF_XYZ) || (fvf & ~(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1)))
        return std::nullopt;
    VertexLayout layout;
    auto add = [&layout](BYTE type, BYTE usage) {
        layout.elements.push_back(
            {0, static_cast<WORD>(layout.vertexSize), type, D3DDECLMETHOD_DEFAULT, usage, 0});
        layout.vertexSize += declTypeSize(type);
    };
    add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
    if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
    if (fvf & D3DFVF_TEX1) add(D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD);
    return layout;
}

} // namespace d3dx
