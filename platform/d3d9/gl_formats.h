// How each Direct3D format of the subset is stored and moved in OpenGL.
#pragma once

#include "d3d9.h"

#include <epoxy/gl.h>

namespace d3d9gl {

struct FormatInfo {
    D3DFORMAT format;
    UINT bytesPerTexel;
    GLenum internalFormat;
    GLenum transferFormat; // format and type of glTextureSubImage / glGetTextureSubImage
    GLenum transferType;
    GLint swizzle[4];     // what the sampler returns for r, g, b, a
    bool colorRenderable; // allowed with D3DUSAGE_RENDERTARGET
};

// The format's description, or nullptr for a format the layer does not provide.
const FormatInfo* findFormat(D3DFORMAT format);

} // namespace d3d9gl
