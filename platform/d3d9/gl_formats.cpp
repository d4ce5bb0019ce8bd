#include "gl_formats.h"

namespace d3d9gl {
namespace {

// A8R8G8B8 is one little-endian 32-bit word 0xAARRGGBB, bytes B, G, R, A: exactly
// GL_BGRA with GL_UNSIGNED_INT_8_8_8_8_REV. R32F and L8 fill the channels they lack the way
// Direct3D 9 samples them.
constexpr FormatInfo kFormats[] = {
    {D3DFMT_A8R8G8B8,
     4,
     GL_RGBA8,
     GL_BGRA,
     GL_UNSIGNED_INT_8_8_8_8_REV,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     true},
    {D3DFMT_X8R8G8B8,
     4,
     GL_RGBA8,
     GL_BGRA,
     GL_UNSIGNED_INT_8_8_8_8_REV,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ONE},
     true},
    {D3DFMT_R32F, 4, GL_R32F, GL_RED, GL_FLOAT, {GL_RED, GL_ONE, GL_ONE, GL_ONE}, true},
    {D3DFMT_A32B32G32R32F,
     16,
     GL_RGBA32F,
     GL_RGBA,
     GL_FLOAT,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     true},
    {D3DFMT_A16B16G16R16F,
     8,
     GL_RGBA16F,
     GL_RGBA,
     GL_HALF_FLOAT,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     true},
    {D3DFMT_L8, 1, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_ONE}, false},
    {D3DFMT_D24S8,
     4,
     GL_DEPTH24_STENCIL8,
     GL_DEPTH_STENCIL,
     GL_UNSIGNED_INT_24_8,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     false},
};

} // namespace

const FormatInfo* findFormat(D3DFORMAT format) {
    for (const FormatInfo& info : kFormats) {
        if (info.format == format) {
            return &info;
        }
    }
    return nullptr;
}

} // namespace d3d9gl
