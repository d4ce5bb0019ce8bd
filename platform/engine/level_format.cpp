#include "platform/engine/level_format.h"

#include "platform/files/little_endian.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace engine {

namespace {

constexpr std::array<std::uint8_t, 4> magic{'G', 'W', 'M', 'B'};
constexpr std::uint32_t formatVersion = 1;
constexpr std::size_t headerSize = 8;
constexpr std::size_t chunkHeaderSize = 8;

constexpr std::string_view skyTag = "SKY ";
constexpr std::string_view sunTag = "SUN ";
constexpr std::string_view cameraTag = "CAM ";
constexpr std::size_t skySize = 12;
constexpr std::size_t sunSize = 11;
constexpr std::size_t cameraSize = 24;

// Reads little-endian fields from a payload whose size was checked beforehand.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint32_t u32() {
        const std::uint32_t value = files::readLittleEndian(bytes_, at_);
        at_ += 4;
        return value;
    }
    EngineNumber number() { return static_cast<EngineNumber>(u32()); }
    LevelColour colour() {
        const LevelColour c{bytes_[at_], bytes_[at_ + 1], bytes_[at_ + 2]};
        at_ += 3;
        return c;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

class Writer {
  public:
    void u32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    void number(EngineNumber value) { u32(static_cast<std::uint32_t>(value)); }
    void colour(const LevelColour& c) { bytes_.insert(bytes_.end(), {c.red, c.green, c.blue}); }
    void tag(std::string_view tag) { bytes_.insert(bytes_.end(), tag.begin(), tag.end()); }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    std::vector<std::uint8_t> bytes_;
};

LevelParse failure(std::string error) {
    return LevelParse{std::nullopt, std::move(error)};
}

std::string printableTag(std::span<const std::uint8_t> tag) {
    std::string text;
    for (const std::uint8_t c : tag)
        text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return text;
}

} // namespace

LevelParse parseLevel(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > maxLevelFileSize) return failure("larger than 1 MiB");
    if (bytes.size() < headerSize || !std::equal(magic.begin(), magic.end(), bytes.begin()))
        return failure("not a level file (no GWMB header)");
    const std::uint32_t version = Reader(bytes.subspan(4, 4)).u32();
    if (version != formatVersion)
        return failure("level format version " + std::to_string(version) + " (this engine reads " +
                       std::to_string(formatVersion) + ")");

    Level level;
    std::size_t at = headerSize;
    while (at < bytes.size()) {
        if (bytes.size() - at < chunkHeaderSize)
            return failure("truncated chunk header at byte " + std::to_string(at));
        const std::span<const std::uint8_t> tagBytes = bytes.subspan(at, 4);
        const std::string_view tag(reinterpret_cast<const char*>(tagBytes.data()), 4);
        const std::uint32_t size = Reader(bytes.subspan(at + 4, 4)).u32();
        at += chunkHeaderSize;
        if (size > bytes.size() - at)
            return failure("chunk \"" + printableTag(tagBytes) +
                           "\" runs past the end of the file");
        const std::span<const std::uint8_t> payload = bytes.subspan(at, size);
        at += size;

        auto expect = [&](std::size_t expected, bool seen) -> std::optional<std::string> {
            if (seen) return "chunk \"" + std::string(tag) + "\" appears twice";
            if (size != expected)
                return "chunk \"" + std::string(tag) + "\" has " + std::to_string(size) +
                       " bytes, not " + std::to_string(expected);
            return std::nullopt;
        };
        Reader reader(payload);
        if (tag == skyTag) {
            if (auto problem = expect(skySize, level.sky.has_value())) return failure(*problem);
            level.sky =
                LevelSky{reader.colour(), reader.colour(), reader.colour(), reader.colour()};
        } else if (tag == sunTag) {
            if (auto problem = expect(sunSize, level.sun.has_value())) return failure(*problem);
            level.sun = LevelSun{reader.colour(), reader.number(), reader.number()};
        } else if (tag == cameraTag) {
            if (auto problem = expect(cameraSize, level.camera.has_value()))
                return failure(*problem);
            level.camera = LevelCamera{reader.number(), reader.number(), reader.number(),
                                       reader.number(), reader.number(), reader.number()};
        }
        // Chunks of other kinds belong to later versions of the format and are skipped.
    }
    return LevelParse{level, {}};
}

std::vector<std::uint8_t> serializeLevel(const Level& level) {
    Writer writer;
    writer.tag(std::string_view(reinterpret_cast<const char*>(magic.data()), magic.size()));
    writer.u32(formatVersion);
    if (level.sky) {
        writer.tag(skyTag);
        writer.u32(skySize);
        for (const LevelColour& c :
             {level.sky->zenith, level.sky->horizon, level.sky->haze, level.sky->ground})
            writer.colour(c);
    }
    if (level.sun) {
        writer.tag(sunTag);
        writer.u32(sunSize);
        writer.colour(level.sun->colour);
        writer.number(level.sun->azimuth);
        writer.number(level.sun->elevation);
    }
    if (level.camera) {
        writer.tag(cameraTag);
        writer.u32(cameraSize);
        for (const EngineNumber n : {level.camera->x, level.camera->y, level.camera->z,
                                     level.camera->pan, level.camera->tilt, level.camera->roll})
            writer.number(n);
    }
    return writer.take();
}

} // namespace engine
