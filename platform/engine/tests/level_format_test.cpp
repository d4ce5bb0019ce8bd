// The level file: what it holds survives writing and reading; bad files are refused with a
// reason, never a crash.
#include "platform/engine/level_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

engine::Level fullLevel() {
    engine::Level level;
    level.sky = engine::LevelSky{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
    level.sun = engine::LevelSun{{250, 240, 230}, -30 * 1024, 45 * 1024 + 1};
    level.camera = engine::LevelCamera{-2163 * 1024, 5, -1, 45 * 1024, -20 * 1024, 2147483647};
    return level;
}

std::string parseError(const std::vector<std::uint8_t>& bytes) {
    const engine::LevelParse parsed = engine::parseLevel(bytes);
    EXPECT_FALSE(parsed.level.has_value());
    return parsed.error;
}

void appendChunk(std::vector<std::uint8_t>& bytes, const char* tag, std::uint32_t size,
                 std::uint8_t fill = 0) {
    bytes.insert(bytes.end(), tag, tag + 4);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    bytes.insert(bytes.end(), size, fill);
}

TEST(LevelFormat, WrittenLevelsReadBackUnchanged) {
    const engine::Level full = fullLevel();
    const auto parsed = engine::parseLevel(engine::serializeLevel(full));
    ASSERT_TRUE(parsed.level.has_value()) << parsed.error;
    EXPECT_EQ(*parsed.level, full);

    engine::Level cameraOnly;
    cameraOnly.camera = full.camera;
    const auto partial = engine::parseLevel(engine::serializeLevel(cameraOnly));
    ASSERT_TRUE(partial.level.has_value());
    EXPECT_EQ(*partial.level, cameraOnly);
    EXPECT_FALSE(partial.level->sky.has_value());

    const auto empty = engine::parseLevel(engine::serializeLevel(engine::Level{}));
    ASSERT_TRUE(empty.level.has_value());
    EXPECT_EQ(*empty.level, engine::Level{});
}

TEST(LevelFormat, NumbersAreLittleEndian) {
    engine::Level level;
    level.sun = engine::LevelSun{{0, 0, 0}, 0x01020304, -2};
    const std::vector<std::uint8_t> bytes = engine::serializeLevel(level);
    // Header (8), chunk header (8), colour (3), then the azimuth.
    ASSERT_EQ(bytes.size(), 8u + 8u + 11u);
    EXPECT_EQ(std::memcmp(bytes.data(), "GWMB\1\0\0\0SUN \x0b\0\0\0", 16), 0);
    EXPECT_EQ(bytes[19], 0x04);
    EXPECT_EQ(bytes[22], 0x01);
    EXPECT_EQ(bytes[23], 0xFE);
}

TEST(LevelFormat, ChunksOfLaterVersionsAreSkipped) {
    std::vector<std::uint8_t> bytes = engine::serializeLevel(fullLevel());
    appendChunk(bytes, "FOG ", 5, 0xAB);
    appendChunk(bytes, "EMPT", 0);
    const auto parsed = engine::parseLevel(bytes);
    ASSERT_TRUE(parsed.level.has_value()) << parsed.error;
    EXPECT_EQ(*parsed.level, fullLevel());
}

TEST(LevelFormat, BadFilesAreRefusedWithAReason) {
    const std::vector<std::uint8_t> good = engine::serializeLevel(fullLevel());

    EXPECT_NE(parseError({}).find("not a level file"), std::string::npos);
    EXPECT_NE(parseError({'B', 'M', 0, 0, 0, 0, 0, 0}).find("not a level file"), std::string::npos);

    std::vector<std::uint8_t> version = good;
    version[4] = 2;
    EXPECT_NE(parseError(version).find("version 2"), std::string::npos);

    std::vector<std::uint8_t> shortHeader(good.begin(), good.begin() + 12);
    EXPECT_NE(parseError(shortHeader).find("truncated chunk header"), std::string::npos);

    std::vector<std::uint8_t> pastEnd(good.begin(), good.end() - 1);
    EXPECT_NE(parseError(pastEnd).find("runs past the end"), std::string::npos);

    std::vector<std::uint8_t> huge(good.begin(), good.begin() + 8);
    appendChunk(huge, "SKY ", 0);
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF; // size 4 GiB - 1
    EXPECT_NE(parseError(huge).find("runs past the end"), std::string::npos);

    std::vector<std::uint8_t> wrongSize(good.begin(), good.begin() + 8);
    appendChunk(wrongSize, "CAM ", 20);
    EXPECT_NE(parseError(wrongSize).find("has 20 bytes, not 24"), std::string::npos);

    std::vector<std::uint8_t> twice = good;
    appendChunk(twice, "SUN ", 11);
    EXPECT_NE(parseError(twice).find("appears twice"), std::string::npos);

    std::vector<std::uint8_t> tooLarge = good;
    tooLarge.resize(engine::maxLevelFileSize + 1);
    EXPECT_NE(parseError(tooLarge).find("larger than 1 MiB"), std::string::npos);
}

TEST(LevelFormat, EveryCutOfAGoodFileIsReadOrRefused) {
    const std::vector<std::uint8_t> good = engine::serializeLevel(fullLevel());
    int readable = 0;
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + length);
        const auto parsed = engine::parseLevel(cut);
        EXPECT_NE(parsed.level.has_value(), !parsed.error.empty()) << length;
        readable += parsed.level.has_value();
    }
    // Only cuts at chunk boundaries are whole levels: after the header, SKY and SUN.
    EXPECT_EQ(readable, 3);
}

} // namespace
