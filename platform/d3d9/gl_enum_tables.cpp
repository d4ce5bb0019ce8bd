#include "gl_enum_tables.h"

#include "gl_device.h"

namespace d3d9gl {

namespace {

constexpr Topology kTopologies[] = {
    {D3DPT_POINTLIST, GL_POINTS, 1, 0},
    {D3DPT_LINELIST, GL_LINES, 2, 0},
    {D3DPT_LINESTRIP, GL_LINE_STRIP, 1, 1},
    {D3DPT_TRIANGLELIST, GL_TRIANGLES, 3, 0},
    {D3DPT_TRIANGLESTRIP, GL_TRIANGLE_STRIP, 1, 2},
    {D3DPT_TRIANGLEFAN, GL_TRIANGLE_FAN, 1, 2},
};

} // namespace

GLenum compareFunction(DWORD value) {
    switch (value) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    case D3DCMP_ALWAYS:
        return GL_ALWAYS;
    default:
        return GL_LEQUAL;
    }
}

GLenum blendFactor(DWORD value) {
    switch (value) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    default:
        return GL_ONE;
    }
}

GLint addressMode(DWORD value) {
    switch (value) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
        return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE:
        return GL_MIRROR_CLAMP_TO_EDGE;
    default:
        return GL_REPEAT;
    }
}

GLint minificationFilter(DWORD minFilter, DWORD mipFilter) {
    const bool linear = minFilter == D3DTEXF_LINEAR || minFilter == D3DTEXF_ANISOTROPIC;
    switch (mipFilter) {
    case D3DTEXF_POINT:
        return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    case D3DTEXF_LINEAR:
        return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    default:
        return linear ? GL_LINEAR : GL_NEAREST;
    }
}

const Topology* topologyOf(D3DPRIMITIVETYPE type) {
    for (const Topology& topology : kTopologies) {
        if (topology.type == type) {
            return &topology;
        }
    }
    return nullptr;
}

bool attributeFormat(BYTE type, AttributeFormat* format) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4: {
        const GLint count = type - D3DDECLTYPE_FLOAT1 + 1;
        *format = {count, GL_FLOAT, GL_FALSE, static_cast<UINT>(count) * 4};
        return true;
    }
    case D3DDECLTYPE_D3DCOLOR:
        *format = {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4};
        return true;
    case D3DDECLTYPE_UBYTE4:
        *format = {4, GL_UNSIGNED_BYTE, GL_FALSE, 4};
        return true;
    default:
        return false;
    }
}

int attributeLocation(BYTE usage, BYTE usageIndex) {
    switch (usage) {
    case D3DDECLUSAGE_POSITION:
        return usageIndex == 0 ? static_cast<int>(kPositionLocation) : -1;
    case D3DDECLUSAGE_NORMAL:
        return usageIndex == 0 ? static_cast<int>(kNormalLocation) : -1;
    case D3DDECLUSAGE_TEXCOORD:
        return usageIndex < kMaxTexcoords ? static_cast<int>(kFirstTexcoordLocation) + usageIndex
                                          : -1;
    case D3DDECLUSAGE_COLOR:
        return usageIndex == 0 ? static_cast<int>(kColorLocation) : -1;
    default:
        return -1;
    }
}

} // namespace d3d9gl
