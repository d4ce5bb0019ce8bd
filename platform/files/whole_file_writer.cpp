#include "platform/files/whole_file_writer.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// Large writes of a few hundred megabytes go out in few system calls.
constexpr std::size_t writeBufferBytes = std::size_t{1} << 20;

std::atomic<unsigned> temporaryFileCounter{0};

bool isReplaceable(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode);
}

} // namespace

WholeFileWriter::WholeFileWriter(std::string path, ExistingFile existing)
    : path_(std::move(path)), existing_(existing) {
    int descriptor = -1;
    if (isReplaceable(path_)) {
        // O_EXCL: never write into a file someone else made under the temporary name.
        temporaryPath_ = path_ + ".partial-" + std::to_string(::getpid()) + "-" +
                         std::to_string(temporaryFileCounter.fetch_add(1));
        descriptor = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) temporaryPath_.clear();
    } else if (existing_ == ExistingFile::keep) {
        problem_ = "the name is taken";
        return;
    } else {
        descriptor = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (descriptor < 0) {
        fail(errno);
        return;
    }
    file_ = ::fdopen(descriptor, "wb");
    if (file_ == nullptr) {
        fail(errno);
        ::close(descriptor);
        return;
    }
    std::setvbuf(file_, nullptr, _IOFBF, writeBufferBytes);
}

WholeFileWriter::~WholeFileWriter() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_ && !temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
}

void WholeFileWriter::fail(int error) {
    if (problem_.empty()) problem_ = std::strerror(error != 0 ? error : EIO);
}

void WholeFileWriter::write(const void* bytes, std::size_t size) {
    assert(bytes != nullptr || size == 0);
    if (file_ == nullptr || !problem_.empty() || size == 0) return;
    if (std::fwrite(bytes, 1, size, file_) != size) fail(errno);
}

std::string WholeFileWriter::commit() {
    assert(!committed_);
    if (file_ != nullptr) {
        // Buffered bytes meet a full disk only here.
        if (std::fflush(file_) != 0) fail(errno);
        if (std::fclose(file_) != 0) fail(errno);
        file_ = nullptr;
    }
    if (problem_.empty() && !temporaryPath_.empty()) {
        if (existing_ == ExistingFile::replace) {
            if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0) fail(errno);
        } else if (::link(temporaryPath_.c_str(), path_.c_str()) != 0) {
            // A link, unlike a rename, refuses a name that is taken.
            fail(errno);
        }
    }
    if (!temporaryPath_.empty() && (!problem_.empty() || existing_ == ExistingFile::keep))
        ::unlink(temporaryPath_.c_str());
    committed_ = true;
    return problem_;
}

} // namespace files
