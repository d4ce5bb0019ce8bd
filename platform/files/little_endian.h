// Little-endian fields of the binary files the loaders read (level, BMP, DDS), read byte by
// byte so that the machine's own byte order and alignment do not matter.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace files {

// The unsigned field of `size` bytes (1 to 4) at byte `at`. `bytes` holds at least at + size
// bytes: the caller checks the file's length first.
inline std::uint32_t readLittleEndian(std::span<const std::uint8_t> bytes, std::size_t at,
                                      int size = 4) {
    assert(size >= 1 && size <= 4 && at + static_cast<std::size_t>(size) <= bytes.size());
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

} // namespace files
