// The data files kept in data/ are exactly what their generators make now.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<char> fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class GeneratedData : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(GeneratedData, KeptFileMatchesItsGenerator) {
    const auto [generator, fileName] = GetParam();
    const fs::path scratch =
        fs::temp_directory_path() / ("gorvane_generated_" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    const fs::path made = scratch / fileName;
    const std::string command = std::string("\"") + generator + "\" \"" + made.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const std::vector<char> fresh = fileBytes(made);
    const std::vector<char> kept = fileBytes(fs::path(GORVANE_DATA_DIR) / fileName);
    fs::remove_all(scratch);
    ASSERT_FALSE(fresh.empty());
    EXPECT_EQ(fresh.size(), kept.size()) << fileName;
    EXPECT_TRUE(fresh == kept) << fileName << " differs from what its generator makes; "
                               << "regenerate it with " << generator;
}

INSTANTIATE_TEST_SUITE_P(EngineData, GeneratedData,
                         testing::Values(std::make_pair(MAKE_MUD_TEXTURE, "mud02.bmp"),
                                         std::make_pair(MAKE_LEVEL, "level.wmb"),
                                         std::make_pair(MAKE_NOISE_VOLUME, "noise.dds")));

} // namespace
