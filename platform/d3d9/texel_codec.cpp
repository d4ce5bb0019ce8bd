#include "texel_codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace d3dx {

std::uint16_t floatToHalf(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const std::uint32_t magnitude = bits & 0x7FFFFFFFu;

    if (magnitude >= 0x7F800000u) { // infinity, or NaN kept quiet with its top payload bits
        const std::uint32_t nan =
            magnitude > 0x7F800000u ? (0x200u | ((magnitude >> 13) & 0x3FFu)) : 0u;
        return static_cast<std::uint16_t>(sign | 0x7C00u | nan);
    }
    if (magnitude >= 0x477FF000u) // 65520 and above round past the largest half, 65504
        return static_cast<std::uint16_t>(sign | 0x7C00u);

    const std::uint32_t exponent = magnitude >> 23;
    std::uint32_t result;
    std::uint32_t remainder;
    std::uint32_t halfway;
    if (exponent < 113) { // below 2^-14: a subnormal half (or zero)
        if (exponent < 102) return sign;
        const std::uint32_t mantissa = (magnitude & 0x7FFFFFu) | 0x800000u;
        const std::uint32_t shift = 126 - exponent;
        result = mantissa >> shift;
        remainder = mantissa & ((1u << shift) - 1u);
        halfway = 1u << (shift - 1);
    } else {
        result = ((exponent - 112) << 10) | ((magnitude >> 13) & 0x3FFu);
        remainder = magnitude & 0x1FFFu;
        halfway = 0x1000u;
    }
    // A carry out of the mantissa correctly moves to the next exponent.
    if (remainder > halfway || (remainder == halfway && (result & 1u))) ++result;
    return static_cast<std::uint16_t>(sign | result);
}

float halfToFloat(std::uint16_t half) {
    const std::uint32_t sign = static_cast<std::uint32_t>(half & 0x8000u) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1Fu;
    const std::uint32_t mantissa = half & 0x3FFu;
    if (exponent == 0) {
        const float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -magnitude : magnitude;
    }
    if (exponent == 31) return std::bit_cast<float>(sign | 0x7F800000u | (mantissa << 13));
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

namespace {

// Bytes of one texel of every format the codec reads or writes.
std::size_t texelBytes(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_L8:
        return 1;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_R32F:
        return 4;
    case D3DFMT_A16B16G16R16F:
        return 8;
    case D3DFMT_A32B32G32R32F:
        return 16;
    default:
        return 0;
    }
}

std::uint8_t unorm8(float value) {
    // NaN fails the first comparison and becomes 0.
    const float clamped = value >= 0.0f ? std::min(value, 1.0f) : 0.0f;
    return static_cast<std::uint8_t>(clamped * 255.0f + 0.5f);
}

} // namespace

std::size_t encodedTexelSize(D3DFORMAT format) {
    return format == D3DFMT_L8 ? 0 : texelBytes(format); // L8 is only read
}

void encodeTexel(D3DFORMAT format, const float rgba[4], std::uint8_t* out) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
        out[0] = unorm8(rgba[2]);
        out[1] = unorm8(rgba[1]);
        out[2] = unorm8(rgba[0]);
        out[3] = unorm8(rgba[3]);
        return;
    case D3DFMT_R32F:
        std::memcpy(out, rgba, sizeof(float));
        return;
    case D3DFMT_A16B16G16R16F:
        for (int c = 0; c < 4; ++c) {
            const std::uint16_t half = floatToHalf(rgba[c]);
            std::memcpy(out + 2 * c, &half, sizeof half);
        }
        return;
    case D3DFMT_A32B32G32R32F:
        std::memcpy(out, rgba, 4 * sizeof(float));
        return;
    default:
        return;
    }
}

std::size_t decodedTexelSize(D3DFORMAT format) {
    return format == D3DFMT_R32F ? 0 : texelBytes(format); // R32F is only written
}

void decodeTexel(D3DFORMAT format, const std::uint8_t* in, float rgba[4]) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
        rgba[0] = in[2] / 255.0f;
        rgba[1] = in[1] / 255.0f;
        rgba[2] = in[0] / 255.0f;
        rgba[3] = in[3] / 255.0f;
        return;
    case D3DFMT_L8:
        rgba[0] = rgba[1] = rgba[2] = in[0] / 255.0f, rgba[3] = 1.0f;
        return;
    case D3DFMT_A16B16G16R16F:
        for (int c = 0; c < 4; ++c) {
            std::uint16_t half;
            std::memcpy(&half, in + 2 * c, sizeof half);
            rgba[c] = halfToFloat(half);
        }
        return;
    case D3DFMT_A32B32G32R32F:
        std::memcpy(rgba, in, 4 * sizeof(float));
        return;
    default:
        return;
    }
}

} // namespace d3dx
