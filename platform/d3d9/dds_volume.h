// Reading a volume texture from the bytes of a DDS file. Pure and defensive: every size and
// offset is checked against the bytes given, so any input either parses or gives a message.
#pragma once

#include "d3d9.h"
#include "volume_image.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace d3dx {

// Largest volume extent accepted (Direct3D 9's volume limit) and largest texel count (the
// decoded floats of 2^24 texels take 256 MiB).
inline constexpr std::uint32_t maxDdsVolumeExtent = 2048;
inline constexpr std::uint64_t maxDdsVolumeTexels = std::uint64_t(1) << 24;

struct DdsVolume {
    VolumeImage image;                 // the top level, decoded
    D3DFORMAT format = D3DFMT_UNKNOWN; // the file's texel format
    std::uint32_t mipLevels = 1;       // as the header states (1 when absent)
};

struct DdsVolumeParse {
    std::optional<DdsVolume> volume; // set on success
    std::string error;               // why not, otherwise
};

// Accepts uncompressed volume files ("DDS ", a 124-byte header with DDSD_DEPTH and
// DDSCAPS2_VOLUME, or a DX10 header of a 3D resource) in A8R8G8B8, L8, A16B16G16R16F or
// A32B32G32R32F. Only the top level is read; further levels may follow it.
DdsVolumeParse parseDdsVolume(std::span<const std::uint8_t> file);

} // namespace d3dx
