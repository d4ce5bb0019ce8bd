// What the data generators share: little-endian output and a main that writes one file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace tools {

// Appends the low `bytes` bytes of `value`, least significant first.
inline void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The main of a generator run as `program OUTPUT`: writes make()'s bytes to OUTPUT. Returns 0,
// 1 when the file cannot be written, or 2 (after printing the usage) for other arguments.
template <class Make>
int writeGeneratedFile(int argc, char** argv, const char* program, Make make) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", program);
        return 2;
    }
    const std::vector<std::uint8_t> bytes = make();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, argv[1]);
        return 1;
    }
    return 0;
}

} // namespace tools
