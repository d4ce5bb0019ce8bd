// Whole input files read into memory, at most a given size. Every loader of the program's
// data (levels, bitmaps, textures, effects, key scripts) reads through here, so a directory,
// a device or a pipe where a file is expected, or a file far larger than any real one, is
// refused with a named reason before anything is read or allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace files {

struct FileRead {
    std::vector<std::uint8_t> bytes;
    std::string problem; // empty when the whole file was read, e.g. "is a directory"

    bool ok() const { return problem.empty(); }
};

// The bytes of the regular file at `path`, when it holds at most `limit` bytes. Otherwise no
// bytes and the problem: "cannot open the file (No such file or directory)", "is a directory",
// "is not a regular file", "is larger than 64 MiB" or "cannot read the file (...)".
FileRead readBoundedFile(const std::string& path, std::size_t limit);

// "64 MiB", "512 KiB", "100 bytes": a size limit as the problems above name it.
std::string sizeText(std::size_t bytes);

} // namespace files
