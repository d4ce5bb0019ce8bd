// Writes the noise volume "noise.dds": 64 x 64 x 64 texels of D3DFMT_A16B16G16R16F, each
// channel an independent pseudo-random value k / 2048 (k = 0..2047, so exact in a half float
// and below 1). One level; the file is a plain DDS volume (FourCC 113, DDSCAPS2_VOLUME).
//   make_noise_volume OUTPUT
#include "generated_file.h"

#include <cstdint>
#include <vector>

namespace {

using tools::putLe;

constexpr std::uint32_t extent = 64;
constexpr std::uint32_t a16b16g16r16f = 113;

// SplitMix64: a fixed, portable sequence.
struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
};

// The half float of k / 2048 for k < 2048, exactly.
std::uint16_t halfOfElevenBits(std::uint32_t k) {
    if (k == 0) return 0;
    int top = 10;
    while (!(k >> top))
        --top;
    // k / 2048 = 1.fraction * 2^(top - 11); the half's exponent field is top - 11 + 15.
    const std::uint32_t exponent = static_cast<std::uint32_t>(top + 4);
    const std::uint32_t fraction = (k << (10 - top)) & 0x3FF;
    return static_cast<std::uint16_t>(exponent << 10 | fraction);
}

std::vector<std::uint8_t> noiseVolume() {
    std::vector<std::uint8_t> out{'D', 'D', 'S', ' '};
    // Flags: caps, height, width, pitch, pixel format, depth.
    constexpr std::uint32_t flags = 0x1 | 0x2 | 0x4 | 0x8 | 0x1000 | 0x800000;
    // clang-format off
    const std::uint32_t header[31] = {
        124,                              // header size
        flags,
        extent, extent,                   // height, width
        extent * 8,                       // row pitch
        extent,                           // depth
        0,                                // mip levels: none
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // reserved
        32,                               // pixel format size
        0x4,                              // DDPF_FOURCC
        a16b16g16r16f,
        0, 0, 0, 0, 0,                    // bit count and masks (unused with a FourCC)
        0x1000 | 0x8,                     // caps: texture, complex
        0x200000,                         // caps2: volume
        0, 0, 0,                          // caps3, caps4, reserved
    };
    // clang-format on
    for (const std::uint32_t field : header)
        putLe(out, field, 4);

    SplitMix64 random{0x6f72'7661'6e65ull};
    for (std::uint32_t texel = 0; texel < extent * extent * extent; ++texel) {
        const std::uint64_t bits = random.next();
        for (int channel = 0; channel < 4; ++channel) // R, G, B, A
            putLe(out, halfOfElevenBits(static_cast<std::uint32_t>(bits >> (16 * channel)) & 0x7FF),
                  2);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    return tools::writeGeneratedFile(argc, argv, "make_noise_volume", noiseVolume);
}
