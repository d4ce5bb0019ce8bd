// The whole-file writer against the file system: a file is replaced only by a complete one, and
// a writer that does not commit leaves nothing behind.
#include "platform/files/whole_file_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(WholeFileWriter, ReplacesOnlyOnCommitAndLeavesNoTemporaryFile) {
    const fs::path folder =
        fs::temp_directory_path() / ("gorvane_whole_file_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / "out.bin";
    std::ofstream(target) << "old";

    {
        files::WholeFileWriter abandoned(target.string());
        abandoned.write("half of it");
        EXPECT_EQ(contents(target), "old"); // nothing reaches the name before the commit
    }
    EXPECT_EQ(contents(target), "old");

    files::WholeFileWriter writer(target.string());
    writer.write("new ");
    writer.write("bytes");
    EXPECT_EQ(writer.commit(), "");
    EXPECT_EQ(contents(target), "new bytes");
    // Made like any new file: readable by others as the umask allows, not private.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0666 & ~mask));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

} // namespace
