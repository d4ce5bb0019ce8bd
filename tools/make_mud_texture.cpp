// Writes the ground texture "mud02.bmp": 256 x 256, 24-bit, a mud of browns made from
// tileable fractal value noise with a fine grain. Integer arithmetic only, so the bytes are
// the same on every machine.
//   make_mud_texture OUTPUT
#include "generated_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using tools::putLe;

constexpr int size = 256;

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

// Smoothstep of t in 0..256, result in 0..256.
int ease(int t) {
    return t * t * (3 * 256 - 2 * t) / (256 * 256);
}

// Value noise with lattice cells of `cell` pixels, wrapping at the image edge; 0..255.
int valueNoise(int x, int y, int cell, std::uint32_t seed) {
    const int cells = size / cell;
    const int cx = x / cell, cy = y / cell;
    const int fx = ease((x % cell) * 256 / cell), fy = ease((y % cell) * 256 / cell);
    auto lattice = [&](int ix, int iy) {
        return static_cast<int>(hash(static_cast<std::uint32_t>(ix % cells),
                                     static_cast<std::uint32_t>(iy % cells), seed) &
                                0xFF);
    };
    const int top = lattice(cx, cy) * (256 - fx) + lattice(cx + 1, cy) * fx;
    const int bottom = lattice(cx, cy + 1) * (256 - fx) + lattice(cx + 1, cy + 1) * fx;
    return (top * (256 - fy) + bottom * fy) / (256 * 256);
}

std::vector<std::uint8_t> mudBitmap() {
    constexpr std::array<int, 3> dark{52, 38, 26}; // red, green, blue
    constexpr std::array<int, 3> light{132, 102, 70};
    constexpr int rowBytes = size * 3; // already a multiple of 4
    constexpr std::uint32_t pixelBytes = rowBytes * size;

    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    putLe(out, 54 + pixelBytes, 4);
    putLe(out, 0, 4);
    putLe(out, 54, 4);
    putLe(out, 40, 4); // BITMAPINFOHEADER
    putLe(out, size, 4);
    putLe(out, size, 4); // positive: bottom row first
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4); // BI_RGB
    putLe(out, pixelBytes, 4);
    putLe(out, 2835, 4); // 72 dots per inch
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);

    for (int row = size - 1; row >= 0; --row) {
        for (int x = 0; x < size; ++x) {
            // Octaves from broad patches to small lumps.
            constexpr int weights[5] = {16, 10, 8, 6, 5};
            int sum = 0, total = 0;
            for (int octave = 0, cell = 64; octave < 5; ++octave, cell /= 2) {
                sum += valueNoise(x, row, cell, 11u + static_cast<std::uint32_t>(octave)) *
                       weights[octave];
                total += weights[octave];
            }
            int level = sum / total; // 0..255, mostly around the middle
            level = std::clamp((level - 128) * 2 + 128, 0, 255);
            // Dark seams where a second noise crosses its middle, like drying cracks.
            const int seam = std::abs(valueNoise(x, row, 16, 77u) - 128);
            if (seam < 5) level = level * (20 + 16 * seam) / 100;
            const int grain = static_cast<int>(hash(static_cast<std::uint32_t>(x),
                                                    static_cast<std::uint32_t>(row), 99u) %
                                               17) -
                              8;
            std::array<int, 3> colour{};
            for (int c = 0; c < 3; ++c)
                colour[c] =
                    std::clamp(dark[c] + (light[c] - dark[c]) * level / 255 + grain, 0, 255);
            out.push_back(static_cast<std::uint8_t>(colour[2])); // B, G, R
            out.push_back(static_cast<std::uint8_t>(colour[1]));
            out.push_back(static_cast<std::uint8_t>(colour[0]));
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    return tools::writeGeneratedFile(argc, argv, "make_mud_texture", mudBitmap);
}
