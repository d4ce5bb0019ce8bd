// Conversion between four-float texel values (x, y, z, w as red, green, blue, alpha) and the
// bytes of the texture formats D3DX reads and writes. Pure: no device, no OpenGL.
#pragma once

#include "d3d9.h"

#include <cstddef>
#include <cstdint>

namespace d3dx {

// IEEE binary16, rounding to nearest even; out-of-range values become infinities.
std::uint16_t floatToHalf(float value);
float halfToFloat(std::uint16_t half);

// Bytes of one texel of `format`, or 0 when D3DX cannot write that format.
std::size_t encodedTexelSize(D3DFORMAT format);

// Writes `rgba` in `format` (encodedTexelSize(format) bytes): A8R8G8B8 clamps each component
// to [0, 1] and rounds to 0..255 stored as B, G, R, A bytes; R32F keeps red only;
// A16B16G16R16F stores R, G, B, A halves; A32B32G32R32F stores R, G, B, A floats.
void encodeTexel(D3DFORMAT format, const float rgba[4], std::uint8_t* out);

// Bytes of one texel of a source format, or 0 when D3DX cannot read that format.
std::size_t decodedTexelSize(D3DFORMAT format);

// Reads one texel as red, green, blue, alpha: A8R8G8B8, A16B16G16R16F, A32B32G32R32F, and L8,
// which reads as (l, l, l, 1).
void decodeTexel(D3DFORMAT format, const std::uint8_t* in, float rgba[4]);

} // namespace d3dx
