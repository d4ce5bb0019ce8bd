// The bounded reader against the file system: what it reads, and every kind of path it refuses
// before reading.
#include "platform/files/bounded_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class BoundedFile : public testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("gorvane_bounded_" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string& name, const std::string& contents) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << contents;
        return path.string();
    }

    fs::path folder;
};

TEST_F(BoundedFile, ReadsAWholeFileUpToAndIncludingTheLimit) {
    std::string contents;
    for (int i = 0; i < 200000; ++i)
        contents += static_cast<char>('a' + i % 26);
    const std::string path = write("letters", contents);
    const files::FileRead read = files::readBoundedFile(path, contents.size());
    ASSERT_TRUE(read.ok()) << read.problem;
    EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.end()), contents);

    const files::FileRead empty = files::readBoundedFile(write("empty", ""), 0);
    ASSERT_TRUE(empty.ok()) << empty.problem;
    EXPECT_TRUE(empty.bytes.empty());
}

TEST_F(BoundedFile, RefusesWithANamedReasonBeforeReading) {
    const std::string tenBytes = write("ten", "0123456789");
    const files::FileRead large = files::readBoundedFile(tenBytes, 9);
    EXPECT_EQ(large.problem, "is larger than 9 bytes");
    EXPECT_TRUE(large.bytes.empty());

    fs::create_directory(folder / "level.wmb");
    EXPECT_EQ(files::readBoundedFile((folder / "level.wmb").string(), 100).problem,
              "is a directory");

    // A device that never ends and a pipe that would wait for a writer.
    EXPECT_EQ(files::readBoundedFile("/dev/zero", 1 << 20).problem, "is not a regular file");
    const fs::path pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(files::readBoundedFile(pipe.string(), 100).problem, "is not a regular file");

    // Through a link, the target counts.
    fs::create_symlink("/dev/zero", folder / "zero.bmp");
    EXPECT_EQ(files::readBoundedFile((folder / "zero.bmp").string(), 100).problem,
              "is not a regular file");
    fs::create_symlink(tenBytes, folder / "ten.link");
    EXPECT_TRUE(files::readBoundedFile((folder / "ten.link").string(), 10).ok());

    const files::FileRead missing = files::readBoundedFile((folder / "missing").string(), 100);
    EXPECT_EQ(missing.problem, "cannot open the file (No such file or directory)");
}

TEST(BoundedFileSize, NamesLimitsInTheirLargestWholeUnit) {
    EXPECT_EQ(files::sizeText(std::size_t{64} << 20), "64 MiB");
    EXPECT_EQ(files::sizeText(std::size_t{512} << 10), "512 KiB");
    EXPECT_EQ(files::sizeText(1500), "1500 bytes");
}

} // namespace
