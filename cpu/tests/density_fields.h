// Density fields in the readback layout, made on the CPU, for the marching-cubes tests and
// benchmarks. Each fills one slot's DensityReadback (every grid point, margin included) and
// its CubeReadback cell values.
#pragma once

#include "terrain/terrain_state.h"

#include <cmath>
#include <cstdint>

namespace density_fields {

template <typename Field> void fillDensity(int slot, Field field) {
    for (int gz = 0; gz < densityGridSize; ++gz)
        for (int gy = 0; gy < densityGridSize; ++gy)
            for (int gx = 0; gx < densityGridSize; ++gx)
                DensityReadback[slot][densitySampleIndex(gx, gy, gz)] = field(gx, gy, gz);
}

// Sets the green byte of every cell's CubeReadback texel.
template <typename Value> void fillCellValues(int slot, Value value) {
    for (int cz = 0; cz < blockCellsPerAxis; ++cz)
        for (int cy = 0; cy < blockCellsPerAxis; ++cy)
            for (int cx = 0; cx < blockCellsPerAxis; ++cx) {
                std::uint8_t* texel = &CubeReadback[slot][cubeTexelIndex(cx, cy, cz) * 4];
                texel[0] = 0x11;
                texel[1] = value(cx, cy, cz);
                texel[2] = 0x22;
                texel[3] = 0xFF;
            }
}

// Smooth value noise in [-1, 1] from an integer hash, trilinearly interpolated.
inline float hashToUnit(int x, int y, int z) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(z) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xFFFFu) / 32767.5f - 1.0f;
}

inline float valueNoise(float x, float y, float z) {
    const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y)),
              iz = static_cast<int>(std::floor(z));
    const float fx = x - ix, fy = y - iy, fz = z - iz;
    auto smooth = [](float t) { return t * t * (3.0f - 2.0f * t); };
    const float sx = smooth(fx), sy = smooth(fy), sz = smooth(fz);
    auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
    float plane[2];
    for (int dz = 0; dz < 2; ++dz) {
        const float x0 = lerp(hashToUnit(ix, iy, iz + dz), hashToUnit(ix + 1, iy, iz + dz), sx);
        const float x1 =
            lerp(hashToUnit(ix, iy + 1, iz + dz), hashToUnit(ix + 1, iy + 1, iz + dz), sx);
        plane[dz] = lerp(x0, x1, sy);
    }
    return lerp(plane[0], plane[1], sz);
}

// A terrain block: ground whose height (along the rows, gz) wanders around the block's middle,
// with overhangs from a few octaves of 3D noise. Inside (positive) is below the ground.
inline void fillTerrain(int slot, int seed = 0) {
    fillDensity(slot, [seed](int gx, int gy, int gz) {
        const float x = static_cast<float>(gx), y = static_cast<float>(gy),
                    z = static_cast<float>(gz);
        const float height = 32.0f + 7.0f * valueNoise(x / 19.0f, y / 19.0f, 0.5f + seed) +
                             2.5f * valueNoise(x / 7.0f, y / 7.0f, 3.5f + seed);
        float detail = 0.0f, amplitude = 1.6f, scale = 1.0f / 9.0f;
        for (int octave = 0; octave < 3; ++octave) {
            detail += amplitude * valueNoise(x * scale, y * scale, z * scale + 11.0f * seed);
            amplitude *= 0.5f;
            scale *= 2.0f;
        }
        return height - z + detail + 0.01f;
    });
    fillCellValues(slot, [](int cx, int cy, int cz) {
        return static_cast<std::uint8_t>((cx * 7 + cy * 13 + cz * 29) & 0xFF);
    });
}

// Gradient noise in about [-1, 1]: a pseudo-random gradient, one of the twelve cube-edge
// directions, at every lattice point, blended with a quintic fade.
inline float gradientNoise(float x, float y, float z) {
    const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y)),
              iz = static_cast<int>(std::floor(z));
    const float fx = x - ix, fy = y - iy, fz = z - iz;
    auto ramp = [](int ax, int ay, int az, float rx, float ry, float rz) {
        std::uint32_t h = static_cast<std::uint32_t>(ax) * 73856093u ^
                          static_cast<std::uint32_t>(ay) * 19349663u ^
                          static_cast<std::uint32_t>(az) * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        static const float directions[12][3] = {{1, 1, 0},  {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0},
                                                {1, 0, 1},  {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
                                                {0, 1, 1},  {0, -1, 1}, {0, 1, -1}, {0, -1, -1}};
        const float* g = directions[h % 12];
        return g[0] * rx + g[1] * ry + g[2] * rz;
    };
    auto fade = [](float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); };
    auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
    const float sx = fade(fx), sy = fade(fy), sz = fade(fz);
    float plane[2];
    for (int dz = 0; dz < 2; ++dz) {
        float line[2];
        for (int dy = 0; dy < 2; ++dy)
            line[dy] = lerp(ramp(ix, iy + dy, iz + dz, fx, fy - dy, fz - dz),
                            ramp(ix + 1, iy + dy, iz + dz, fx - 1.0f, fy - dy, fz - dz), sx);
        plane[dz] = lerp(line[0], line[1], sy);
    }
    return lerp(plane[0], plane[1], sz);
}

// A dense block at the ground: the surface crosses the block's middle rows and is folded by
// five octaves of 3D gradient noise into ridges, overhangs and floating bits, about 5,000
// vertices and 9,500 triangles a block. Inside (positive) is below the ground.
inline void fillDenseTerrain(int slot, int seed = 0) {
    fillDensity(slot, [seed](int gx, int gy, int gz) {
        const float x = static_cast<float>(gx), y = static_cast<float>(gy),
                    z = static_cast<float>(gz);
        // A gentle slope through the middle row; the noise, worth up to some 12 units of
        // density, folds the ground far more than the slope alone would.
        float density = 0.31f * (32.0f - z);
        float amplitude = 6.0f, scale = 1.0f / 16.0f;
        for (int octave = 0; octave < 5; ++octave) {
            density += amplitude * gradientNoise(x * scale + 17.3f * seed, y * scale + 5.1f * octave,
                                                 z * scale - 9.7f * seed);
            amplitude *= 0.5f;
            scale *= 2.0f;
        }
        return density;
    });
    fillCellValues(slot, [](int cx, int cy, int cz) {
        return static_cast<std::uint8_t>((cx * 37 + cy * 11 + cz * 3) & 0xFF);
    });
}

// A ball of the given radius (in grid units) around a point near the block's centre.
inline void fillSphere(int slot, float radius) {
    fillDensity(slot, [radius](int gx, int gy, int gz) {
        const float dx = gx - 32.3f, dy = gy - 31.7f, dz = gz - 32.15f;
        return radius - std::sqrt(dx * dx + dy * dy + dz * dz);
    });
    fillCellValues(slot, [](int cx, int cy, int cz) {
        return static_cast<std::uint8_t>((cx + 2 * cy + 3 * cz) * 5 & 0xFF);
    });
}

// Signs alternating between neighbouring grid points along the chosen axes: every cell is
// crossed by the surface, the worst case for the mesher's capacity.
inline void fillCheckerboard(int slot, bool alongX, bool alongY, bool alongZ) {
    fillDensity(slot, [=](int gx, int gy, int gz) {
        const int parity = (alongX ? gx : 0) + (alongY ? gy : 0) + (alongZ ? gz : 0);
        return (parity & 1) ? 1.0f : -1.0f;
    });
    fillCellValues(slot, [](int, int, int) { return std::uint8_t{128}; });
}

} // namespace density_fields
