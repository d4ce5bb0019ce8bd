#include "dds_volume.h"

#include "texel_codec.h"

#include "platform/files/little_endian.h"

#include <cstring>

namespace d3dx {

namespace {

constexpr std::size_t headerOffset = 4; // after the magic "DDS "
constexpr std::size_t headerSize = 124;
constexpr std::size_t dx10HeaderSize = 20;

constexpr std::uint32_t DDSD_MIPMAPCOUNT = 0x20000;
constexpr std::uint32_t DDSD_DEPTH = 0x800000;
constexpr std::uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr std::uint32_t DDPF_FOURCC = 0x4;
constexpr std::uint32_t DDPF_RGB = 0x40;
constexpr std::uint32_t DDPF_LUMINANCE = 0x20000;
constexpr std::uint32_t DDSCAPS2_CUBEMAP = 0x200;
constexpr std::uint32_t DDSCAPS2_VOLUME = 0x200000;

constexpr std::uint32_t fourCC(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

constexpr std::uint32_t dxgiR32G32B32A32Float = 2;
constexpr std::uint32_t dxgiR16G16B16A16Float = 10;
constexpr std::uint32_t dxgiB8G8R8A8Unorm = 87;
constexpr std::uint32_t resourceDimensionTexture3D = 4;

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return files::readLittleEndian(bytes, offset);
}

std::string describeFourCC(std::uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::to_string(code);
        text += c;
    }
    return '"' + text + '"';
}

DdsVolumeParse failure(std::string message) {
    return {std::nullopt, std::move(message)};
}

// The texel format from the legacy pixel format block, or a reason it is not supported.
D3DFORMAT legacyFormat(std::span<const std::uint8_t> file, std::string& error) {
    const std::size_t pf = headerOffset + 72;
    const std::uint32_t flags = readU32(file, pf + 4);
    const std::uint32_t code = readU32(file, pf + 8);
    const std::uint32_t bits = readU32(file, pf + 12);
    const std::uint32_t masks[4] = {readU32(file, pf + 16), readU32(file, pf + 20),
                                    readU32(file, pf + 24), readU32(file, pf + 28)};
    if (flags & DDPF_FOURCC) {
        if (code == D3DFMT_A16B16G16R16F) return D3DFMT_A16B16G16R16F;
        if (code == D3DFMT_A32B32G32R32F) return D3DFMT_A32B32G32R32F;
        error = "unsupported pixel format: FourCC " + describeFourCC(code);
        return D3DFMT_UNKNOWN;
    }
    if ((flags & DDPF_RGB) && (flags & DDPF_ALPHAPIXELS) && bits == 32 && masks[0] == 0x00FF0000u &&
        masks[1] == 0x0000FF00u && masks[2] == 0x000000FFu && masks[3] == 0xFF000000u)
        return D3DFMT_A8R8G8B8;
    if ((flags & DDPF_LUMINANCE) && !(flags & DDPF_ALPHAPIXELS) && bits == 8 && masks[0] == 0xFF)
        return D3DFMT_L8;
    error = "unsupported pixel format: flags " + std::to_string(flags) + ", " +
            std::to_string(bits) + " bits per texel";
    return D3DFMT_UNKNOWN;
}

D3DFORMAT dx10Format(std::uint32_t dxgiFormat, std::string& error) {
    switch (dxgiFormat) {
    case dxgiR32G32B32A32Float:
        return D3DFMT_A32B32G32R32F;
    case dxgiR16G16B16A16Float:
        return D3DFMT_A16B16G16R16F;
    case dxgiB8G8R8A8Unorm:
        return D3DFMT_A8R8G8B8;
    default:
        error = "unsupported DXGI format " + std::to_string(dxgiFormat);
        return D3DFMT_UNKNOWN;
    }
}

} // namespace

DdsVolumeParse parseDdsVolume(std::span<const std::uint8_t> file) {
    if (file.size() < headerOffset + headerSize)
        return failure("file too short for a DDS header (" + std::to_string(file.size()) +
                       " bytes)");
    if (std::memcmp(file.data(), "DDS ", 4) != 0) return failure("not a DDS file (wrong magic)");
    const std::uint32_t size = readU32(file, headerOffset);
    if (size != headerSize)
        return failure("DDS header size is " + std::to_string(size) + ", not 124");
    const std::uint32_t pixelFormatSize = readU32(file, headerOffset + 72);
    if (pixelFormatSize != 32)
        return failure("DDS pixel format size is " + std::to_string(pixelFormatSize) + ", not 32");

    const std::uint32_t flags = readU32(file, headerOffset + 4);
    const std::uint32_t height = readU32(file, headerOffset + 8);
    const std::uint32_t width = readU32(file, headerOffset + 12);
    const std::uint32_t depth = readU32(file, headerOffset + 20);
    const std::uint32_t mipCount = readU32(file, headerOffset + 24);
    const std::uint32_t caps2 = readU32(file, headerOffset + 108);
    const std::uint32_t pixelFlags = readU32(file, headerOffset + 76);
    const std::uint32_t pixelCode = readU32(file, headerOffset + 80);

    std::size_t dataOffset = headerOffset + headerSize;
    std::string error;
    D3DFORMAT format;
    if ((pixelFlags & DDPF_FOURCC) && pixelCode == fourCC('D', 'X', '1', '0')) {
        if (file.size() < dataOffset + dx10HeaderSize)
            return failure("file too short for the DX10 header");
        const std::uint32_t dimension = readU32(file, dataOffset + 4);
        const std::uint32_t arraySize = readU32(file, dataOffset + 12);
        if (dimension != resourceDimensionTexture3D)
            return failure("not a volume texture (DX10 resource dimension " +
                           std::to_string(dimension) + ")");
        if (arraySize > 1) return failure("volume texture arrays are not supported");
        format = dx10Format(readU32(file, dataOffset), error);
        dataOffset += dx10HeaderSize;
    } else {
        if (caps2 & DDSCAPS2_CUBEMAP) return failure("a cube map, not a volume texture");
        if (!(flags & DDSD_DEPTH) || !(caps2 & DDSCAPS2_VOLUME))
            return failure("not a volume texture (DDSD_DEPTH or DDSCAPS2_VOLUME missing)");
        format = legacyFormat(file, error);
    }
    if (format == D3DFMT_UNKNOWN) return failure(error);

    if (width == 0 || height == 0 || depth == 0 || width > maxDdsVolumeExtent ||
        height > maxDdsVolumeExtent || depth > maxDdsVolumeExtent ||
        std::uint64_t(width) * height * depth > maxDdsVolumeTexels)
        return failure("volume size " + std::to_string(width) + " x " + std::to_string(height) +
                       " x " + std::to_string(depth) + " is out of range");

    const std::size_t texelSize = decodedTexelSize(format);
    const std::uint64_t texels = std::uint64_t(width) * height * depth;
    const std::uint64_t needed = texels * texelSize;
    if (file.size() - dataOffset < needed)
        return failure("file truncated: the top level needs " + std::to_string(needed) +
                       " bytes of texels, " + std::to_string(file.size() - dataOffset) +
                       " present");

    DdsVolume volume;
    volume.format = format;
    volume.mipLevels = (flags & DDSD_MIPMAPCOUNT) && mipCount > 0 ? mipCount : 1;
    volume.image.width = width;
    volume.image.height = height;
    volume.image.depth = depth;
    volume.image.rgba.resize(4 * texels);
    const std::uint8_t* source = file.data() + dataOffset;
    for (std::uint64_t i = 0; i < texels; ++i, source += texelSize)
        decodeTexel(format, source, &volume.image.rgba[4 * i]);
    return {std::move(volume), {}};
}

} // namespace d3dx
