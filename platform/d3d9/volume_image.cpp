#include "volume_image.h"

#include <algorithm>
#include <cmath>

namespace d3dx {

VolumeImage cropVolume(const VolumeImage& image, const D3DBOX& box) {
    VolumeImage cropped;
    cropped.width = box.Right - box.Left;
    cropped.height = box.Bottom - box.Top;
    cropped.depth = box.Back - box.Front;
    cropped.rgba.reserve(4 * std::size_t(cropped.width) * cropped.height * cropped.depth);
    for (std::uint32_t z = box.Front; z < box.Back; ++z)
        for (std::uint32_t y = box.Top; y < box.Bottom; ++y) {
            const float* row = image.texel(box.Left, y, z);
            cropped.rgba.insert(cropped.rgba.end(), row, row + 4 * cropped.width);
        }
    return cropped;
}

namespace {

struct Tap {
    std::uint32_t source;
    float weight;
};

// For each of `outCount` output texels, the input texels it covers and their weights (summing
// to one).
std::vector<std::vector<Tap>> boxTaps(std::uint32_t inCount, std::uint32_t outCount) {
    std::vector<std::vector<Tap>> taps(outCount);
    const double scale = double(inCount) / outCount;
    for (std::uint32_t i = 0; i < outCount; ++i) {
        const double begin = i * scale;
        const double end = (i + 1) * scale;
        const auto first = static_cast<std::uint32_t>(std::floor(begin));
        const auto last = std::min(inCount, static_cast<std::uint32_t>(std::ceil(end)));
        for (std::uint32_t j = first; j < last; ++j) {
            const double covered = std::min(end, j + 1.0) - std::max(begin, double(j));
            if (covered > 0.0) taps[i].push_back({j, static_cast<float>(covered / scale)});
        }
    }
    return taps;
}

// Resizes one axis. `axis` 0, 1, 2 is x, y, z; the other two sizes stay.
VolumeImage filterAxis(const VolumeImage& image, int axis, std::uint32_t outCount) {
    const std::uint32_t inSize[3] = {image.width, image.height, image.depth};
    std::uint32_t outSize[3] = {image.width, image.height, image.depth};
    outSize[axis] = outCount;
    const auto taps = boxTaps(inSize[axis], outCount);

    VolumeImage out;
    out.width = outSize[0];
    out.height = outSize[1];
    out.depth = outSize[2];
    out.rgba.assign(4 * std::size_t(out.width) * out.height * out.depth, 0.0f);
    float* target = out.rgba.data();
    for (std::uint32_t z = 0; z < out.depth; ++z)
        for (std::uint32_t y = 0; y < out.height; ++y)
            for (std::uint32_t x = 0; x < out.width; ++x, target += 4) {
                std::uint32_t at[3] = {x, y, z};
                const std::vector<Tap>& covered = taps[at[axis]];
                for (const Tap& tap : covered) {
                    at[axis] = tap.source;
                    const float* source = image.texel(at[0], at[1], at[2]);
                    for (int c = 0; c < 4; ++c)
                        target[c] += tap.weight * source[c];
                }
            }
    return out;
}

} // namespace

VolumeImage boxFilterVolume(const VolumeImage& image, std::uint32_t width, std::uint32_t height,
                            std::uint32_t depth) {
    const std::uint32_t outSize[3] = {width, height, depth};
    const std::uint32_t inSize[3] = {image.width, image.height, image.depth};
    VolumeImage result = image;
    // The box filter is separable: one axis after the other gives the same weights as the
    // three-dimensional overlap.
    for (int axis = 0; axis < 3; ++axis)
        if (outSize[axis] != inSize[axis]) result = filterAxis(result, axis, outSize[axis]);
    return result;
}

} // namespace d3dx
