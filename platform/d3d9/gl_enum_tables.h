// How Direct3D 9 enumerations and declaration types translate to GL. Only the layer's .cpp
// files include this header.
#pragma once

#include "d3d9.h"

#include <epoxy/gl.h>

#include <cstdint>

namespace d3d9gl {

GLenum compareFunction(DWORD value);                        // D3DCMP_*, default GL_LEQUAL
GLenum blendFactor(DWORD value);                            // D3DBLEND_*, default GL_ONE
GLint addressMode(DWORD value);                             // D3DTADDRESS_*, default GL_REPEAT
GLint minificationFilter(DWORD minFilter, DWORD mipFilter); // D3DTEXF_* pair

// A primitive type's GL mode and how many vertices (or indices) `n` primitives take:
// n * verticesPerPrimitive + extraVertices.
struct Topology {
    D3DPRIMITIVETYPE type;
    GLenum mode;
    std::uint64_t verticesPerPrimitive;
    std::uint64_t extraVertices;
};
// nullptr for a primitive type the subset does not draw.
const Topology* topologyOf(D3DPRIMITIVETYPE type);

// A vertex element type as a GL attribute format and its size in bytes.
struct AttributeFormat {
    GLint size;
    GLenum type;
    GLboolean normalized;
    UINT bytes;
};
// False for a type the subset does not read.
bool attributeFormat(BYTE type, AttributeFormat* format);

} // namespace d3d9gl
