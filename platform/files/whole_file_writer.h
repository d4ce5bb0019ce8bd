// Writing an output file whole or not at all. The bytes go to a temporary file beside the
// target, and only when every write and the close have succeeded does it take the target's
// name, so a full disk or a failed write never leaves a truncated file under that name. A
// target that exists and is not a regular file (a device such as /dev/null or /dev/full,
// possibly through a link) cannot be replaced and is written in place; its failures are
// reported all the same.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace files {

enum class ExistingFile {
    replace, // a file already under the name is replaced
    keep,    // the commit fails when the name is taken
};

class WholeFileWriter {
  public:
    explicit WholeFileWriter(std::string path, ExistingFile existing = ExistingFile::replace);
    ~WholeFileWriter(); // removes the temporary file unless it was committed
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Appends `size` bytes; `bytes` holds that many. After the first failure nothing more is
    // written and commit reports it.
    void write(const void* bytes, std::size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }

    // Closes the file and gives it its name. Empty on success, else the problem ("No space left
    // on device"); the temporary file is gone either way.
    std::string commit();

    const std::string& path() const { return path_; }
    // The first failure so far (the file could not be made, a write failed); empty if none.
    const std::string& problem() const { return problem_; }

  private:
    void fail(int error);

    std::string path_;
    std::string temporaryPath_; // empty when writing in place
    ExistingFile existing_;
    std::FILE* file_ = nullptr;
    std::string problem_;
    bool committed_ = false;
};

} // namespace files
