#include "platform/files/bounded_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

std::string withReason(const char* what, int error) {
    return std::string(what) + " (" + std::strerror(error) + ")";
}

// Closes the descriptor when the read ends, however it ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::string sizeText(std::size_t bytes) {
    if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

FileRead readBoundedFile(const std::string& path, std::size_t limit) {
    FileRead result;
    // Not blocking: opening a FIFO would otherwise wait for a writer before fstat could refuse
    // it. Regular files ignore the flag.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) {
        result.problem =
            errno == EISDIR ? "is a directory" : withReason("cannot open the file", errno);
        return result;
    }
    struct stat status{};
    if (::fstat(file.fd, &status) != 0) {
        result.problem = withReason("cannot read the file", errno);
        return result;
    }
    if (S_ISDIR(status.st_mode)) {
        result.problem = "is a directory";
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.problem = "is not a regular file";
        return result;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > limit) {
        result.problem = "is larger than " + sizeText(limit);
        return result;
    }

    // The file can grow while it is read: room for one byte past the limit shows that it grew
    // too far.
    constexpr std::size_t growth = std::size_t{1} << 16;
    result.bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == result.bytes.size()) {
            if (got > limit) break;
            result.bytes.resize(std::min(got + growth, limit + 1));
        }
        const ssize_t count = ::read(file.fd, result.bytes.data() + got, result.bytes.size() - got);
        if (count < 0) {
            if (errno == EINTR) continue;
            result.problem = withReason("cannot read the file", errno);
            result.bytes.clear();
            return result;
        }
        if (count == 0) break;
        got += static_cast<std::size_t>(count);
    }
    if (got > limit) {
        result.problem = "is larger than " + sizeText(limit);
        result.bytes.clear();
        return result;
    }
    result.bytes.resize(got);
    return result;
}

} // namespace files
