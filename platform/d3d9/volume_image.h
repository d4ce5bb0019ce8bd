// A volume of four-float texels in memory, and the box filter that resizes it. Pure: no
// device, no OpenGL.
#pragma once

#include "d3d9.h"

#include <cstdint>
#include <vector>

namespace d3dx {

struct VolumeImage {
    std::uint32_t width = 0, height = 0, depth = 0;
    // Red, green, blue, alpha per texel; x runs fastest, then y, then z.
    std::vector<float> rgba;

    const float* texel(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
        return &rgba[4 * ((std::size_t(z) * height + y) * width + x)];
    }
};

// The texels of `box` (Left..Right-1, Top..Bottom-1, Front..Back-1), which must lie inside
// `image` and be non-empty.
VolumeImage cropVolume(const VolumeImage& image, const D3DBOX& box);

// Resizes with an area-weighted box filter: each output texel is the average of the input
// region it covers, input texels cut by the region's border counting by the part inside.
// Equal sizes copy; sizes must be non-zero.
VolumeImage boxFilterVolume(const VolumeImage& image, std::uint32_t width, std::uint32_t height,
                            std::uint32_t depth);

} // namespace d3dx
