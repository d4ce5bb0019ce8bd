// Bitmaps, panels, text objects and the frame's text queue.
#include "platform/engine/engine_objects.h"

#include "platform/d3d9/d3d9.h"
#include "platform/engine/engine_state.h"
#include "platform/files/bounded_file.h"
#include "platform/files/little_endian.h"

#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace engine {

namespace {

// Objects live until the process ends, as the program expects.
std::vector<std::unique_ptr<BitmapObject>> bitmapStore;
std::vector<std::unique_ptr<PanelObject>> panelStore;
std::vector<PanelObject*> panelList;
std::vector<std::unique_ptr<TextObject>> textStore;
TextQueue textQueue;
std::size_t textQueueCapacity = 256;
bool textQueueOverflowReported = false;

constexpr int largestBitmapExtent = 8192;
constexpr std::size_t largestImageFile = std::size_t{64} << 20;

// What a bitmap that cannot be loaded shows instead: a plain mid grey.
constexpr int plainExtent = 64;
constexpr std::uint32_t plainGrey = 0xFF808080u;

std::uint32_t packBgra(int red, int green, int blue, int alpha) {
    return static_cast<std::uint32_t>(alpha) << 24 | static_cast<std::uint32_t>(red) << 16 |
           static_cast<std::uint32_t>(green) << 8 | static_cast<std::uint32_t>(blue);
}

int channel(std::uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}

BitmapObject* storeBitmap(int width, int height, int depth, std::uint32_t fill) {
    auto bitmap = std::make_unique<BitmapObject>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->texture = nullptr;
    bitmap->depth = depth;
    bitmap->levels.push_back(
        std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, fill));
    bitmapStore.push_back(std::move(bitmap));
    return bitmapStore.back().get();
}

using files::readLittleEndian;

// What a BMP header says of its uncompressed pixel rows. The image decoder reads rows missing
// from a short file as black, and takes a top-down image's negative height at face value; the
// header itself tells both.
struct BmpRows {
    int width, height;         // height positive, whichever way the rows run
    std::uint64_t neededBytes; // the rows' bytes the header describes
    std::uint64_t givenBytes;  // the bytes after the header's pixel data offset
};

std::optional<BmpRows> bmpRows(const std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t fileHeader = 14;
    if (bytes.size() < fileHeader + 16 || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
    const std::uint32_t pixelOffset = readLittleEndian(bytes, 10, 4);
    const std::uint32_t infoSize = readLittleEndian(bytes, 14, 4);
    std::int64_t width = 0, height = 0;
    std::uint32_t bitsPerPixel = 0, compression = 0;
    if (infoSize == 12) { // the OS/2 header: 16-bit sizes, never compressed
        width = readLittleEndian(bytes, 18, 2);
        height = readLittleEndian(bytes, 20, 2);
        bitsPerPixel = readLittleEndian(bytes, 24, 2);
    } else if (infoSize >= 40 && bytes.size() >= fileHeader + 40) {
        width = static_cast<std::int32_t>(readLittleEndian(bytes, 18, 4));
        height = static_cast<std::int32_t>(readLittleEndian(bytes, 22, 4));
        bitsPerPixel = readLittleEndian(bytes, 28, 2);
        compression = readLittleEndian(bytes, 30, 4);
    } else {
        return std::nullopt;
    }
    // Plain rows, or rows with bit-field masks; the decoder refuses the run-length forms.
    constexpr std::uint32_t plainRows = 0, bitFields = 3, alphaBitFields = 6;
    if (compression != plainRows && compression != bitFields && compression != alphaBitFields)
        return std::nullopt;
    if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min() ||
        bitsPerPixel == 0 || bitsPerPixel > 32)
        return std::nullopt;
    height = height < 0 ? -height : height;
    if (width > largestBitmapExtent || height > largestBitmapExtent)
        return BmpRows{static_cast<int>(width), static_cast<int>(height), 0, 0};

    // Rows are padded to 4 bytes; the last row's padding may be left out.
    const auto rowBits = static_cast<std::uint64_t>(width) * bitsPerPixel;
    const std::uint64_t rowBytes = (rowBits + 31) / 32 * 4;
    const std::uint64_t needed =
        rowBytes * static_cast<std::uint64_t>(height - 1) + (rowBits + 7) / 8;
    const std::uint64_t given = pixelOffset < bytes.size() ? bytes.size() - pixelOffset : 0;
    return BmpRows{static_cast<int>(width), static_cast<int>(height), needed, given};
}

// The file's pixels, or an error text.
std::string decodeImage(const char* fileName, int& width, int& height,
                        std::vector<std::uint32_t>& pixels) {
    const files::FileRead file = files::readBoundedFile(fileName, largestImageFile);
    if (!file.ok()) return file.problem;
    const std::vector<std::uint8_t>& bytes = file.bytes;
    if (bytes.empty()) return "the file is empty";

    int components = 0;
    if (!stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height,
                               &components))
        return std::string("not a readable image (") + stbi_failure_reason() + ")";
    const std::optional<BmpRows> rows = bmpRows(bytes);
    if (rows) {
        width = rows->width;
        height = rows->height;
    }
    if (width < 1 || height < 1 || width > largestBitmapExtent || height > largestBitmapExtent)
        return "image size " + std::to_string(width) + "x" + std::to_string(height) +
               " is beyond 8192x8192";
    if (rows && rows->givenBytes < rows->neededBytes)
        return "the pixel data is shorter than the header says (" +
               std::to_string(rows->givenBytes) + " of " + std::to_string(rows->neededBytes) +
               " bytes)";
    unsigned char* rgba = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                &width, &height, &components, 4);
    if (!rgba) return std::string("not a readable image (") + stbi_failure_reason() + ")";
    pixels.resize(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = packBgra(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]);
    stbi_image_free(rgba);
    return {};
}

BitmapObject* object(EngineBitmap* bitmap) {
    return static_cast<BitmapObject*>(bitmap);
}

TextObject* object(EngineText* text) {
    return static_cast<TextObject*>(text);
}

void uploadLevels(BitmapObject& bitmap) {
    for (std::size_t level = 0; level < bitmap.levels.size(); ++level) {
        const int width = mipExtent(bitmap.width, static_cast<int>(level));
        const int height = mipExtent(bitmap.height, static_cast<int>(level));
        D3DLOCKED_RECT locked{};
        if (FAILED(bitmap.texture->LockRect(static_cast<UINT>(level), &locked, nullptr, 0))) {
            reportProblem("cannot lock level " + std::to_string(level) + " of a bitmap texture");
            continue;
        }
        for (int row = 0; row < height; ++row)
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + std::size_t(row) * locked.Pitch,
                        bitmap.levels[level].data() + std::size_t(row) * width,
                        std::size_t(width) * 4);
        bitmap.texture->UnlockRect(static_cast<UINT>(level));
    }
}

// Copies at most `capacity` characters of `source` into the text after its first `keep`.
void writeText(TextObject& text, std::size_t keep, const char* source) {
    const std::size_t capacity = static_cast<std::size_t>(text.capacity);
    const std::size_t room = capacity - std::min(keep, capacity);
    const std::size_t length = source ? strnlen(source, room) : 0;
    if (length > 0) std::memcpy(text.storage.data() + keep, source, length);
    text.storage[keep + length] = '\0';
}

} // namespace

const std::vector<PanelObject*>& panels() {
    return panelList;
}

TextQueue& queuedTexts() {
    return textQueue;
}

void setTextQueueCapacity(int capacity) {
    textQueueCapacity = static_cast<std::size_t>(std::max(capacity, 0));
}

std::vector<std::vector<std::uint32_t>> mipChain(const std::vector<std::uint32_t>& level0,
                                                 int width, int height) {
    std::vector<std::vector<std::uint32_t>> chain;
    const std::vector<std::uint32_t>* above = &level0;
    int aboveWidth = width, aboveHeight = height;
    for (int level = 1; aboveWidth > 1 || aboveHeight > 1; ++level) {
        const int levelWidth = mipExtent(width, level), levelHeight = mipExtent(height, level);
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(levelWidth) * levelHeight);
        for (int y = 0; y < levelHeight; ++y) {
            for (int x = 0; x < levelWidth; ++x) {
                // The 2x2 block above, clamped where an odd or 1-wide level has no partner.
                const int x0 = 2 * x, x1 = std::min(2 * x + 1, aboveWidth - 1);
                const int y0 = 2 * y, y1 = std::min(2 * y + 1, aboveHeight - 1);
                const std::uint32_t block[4] = {(*above)[std::size_t(y0) * aboveWidth + x0],
                                                (*above)[std::size_t(y0) * aboveWidth + x1],
                                                (*above)[std::size_t(y1) * aboveWidth + x0],
                                                (*above)[std::size_t(y1) * aboveWidth + x1]};
                int sums[4] = {0, 0, 0, 0};
                for (const std::uint32_t pixel : block) {
                    for (int c = 0; c < 4; ++c)
                        sums[c] += channel(pixel, 8 * c);
                }
                std::uint32_t averaged = 0;
                for (int c = 0; c < 4; ++c)
                    averaged |= static_cast<std::uint32_t>((sums[c] + 2) / 4) << (8 * c);
                pixels[std::size_t(y) * levelWidth + x] = averaged;
            }
        }
        chain.push_back(std::move(pixels));
        above = &chain.back();
        aboveWidth = levelWidth;
        aboveHeight = levelHeight;
    }
    return chain;
}

} // namespace engine

using namespace engine;

EngineBitmap* bmap_create(const char* fileName) {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    const std::string problem =
        fileName ? decodeImage(fileName, width, height, pixels) : std::string("no file name");
    if (!problem.empty()) {
        reportProblem(std::string(fileName ? fileName : "(null)") + ": " + problem +
                      "; using a plain texture");
        return storeBitmap(plainExtent, plainExtent, 24, plainGrey);
    }
    diagnostic(std::string("loaded ") + fileName + " (" + std::to_string(width) + "x" +
               std::to_string(height) + ")");
    BitmapObject* bitmap = storeBitmap(width, height, 24, 0);
    bitmap->levels[0] = std::move(pixels);
    return bitmap;
}

void bmap_to_mipmap(EngineBitmap* bitmap) {
    if (!bitmap) return;
    BitmapObject& target = *object(bitmap);
    target.levels.resize(1);
    for (auto& level : mipChain(target.levels[0], target.width, target.height))
        target.levels.push_back(std::move(level));
    ++target.revision;
}

void bmap_preload(EngineBitmap* bitmap) {
    if (!bitmap) return;
    BitmapObject& target = *object(bitmap);
    IDirect3DDevice9* device = slotTableDevice();
    if (!device) {
        reportProblem("bmap_preload without a device; the bitmap has no texture");
        return;
    }
    const UINT levelCount = static_cast<UINT>(target.levels.size());
    if (target.texture && target.texture->GetLevelCount() != levelCount) {
        target.texture->Release();
        target.texture = nullptr;
    }
    if (!target.texture &&
        FAILED(device->CreateTexture(static_cast<UINT>(target.width),
                                     static_cast<UINT>(target.height), levelCount, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &target.texture, nullptr))) {
        reportProblem("cannot create a " + std::to_string(target.width) + "x" +
                      std::to_string(target.height) + " texture for a bitmap");
        target.texture = nullptr;
        return;
    }
    uploadLevels(target);
}

EngineBitmap* bmap_createblack(EngineNumber width, EngineNumber height, EngineNumber depth) {
    auto extent = [](EngineNumber number) {
        return std::clamp(static_cast<int>(fromEngineNumber(number)), 1, largestBitmapExtent);
    };
    return storeBitmap(extent(width), extent(height), static_cast<int>(fromEngineNumber(depth)),
                       packBgra(0, 0, 0, 255));
}

void bmap_fill(EngineBitmap* bitmap, const EngineVector* colour, EngineNumber opacity) {
    if (!bitmap || !colour) return;
    BitmapObject& target = *object(bitmap);
    auto byte = [](double value) { return static_cast<int>(std::clamp(value, 0.0, 255.0)); };
    const std::uint32_t pixel = packBgra(byte(fromEngineNumber(colour->x)), byte(fromEngineNumber(colour->y)),
                                         byte(fromEngineNumber(colour->z)), byte(fromEngineNumber(opacity) * 2.55));
    // Every level of a single colour is that colour.
    for (auto& level : target.levels)
        std::fill(level.begin(), level.end(), pixel);
    ++target.revision;
}

EnginePanel* pan_create(const char* /*definition: panels are set up through their fields*/,
                        EngineNumber layer) {
    auto panel = std::make_unique<PanelObject>();
    panel->x = panel->y = 0;
    panel->flags = 0;
    panel->bitmap = nullptr;
    panel->scaleX = toEngineNumber(1);
    panel->width = panel->height = 0;
    panel->layer = layer;
    panel->creationOrder = static_cast<int>(panelStore.size());
    panelList.push_back(panel.get());
    panelStore.push_back(std::move(panel));
    return panelList.back();
}

EngineText* str_create(const char* definition) {
    // "#N" makes an empty text with room for N characters; anything else is the initial text.
    const char* initial = definition ? definition : "";
    int capacity = static_cast<int>(std::strlen(initial));
    if (initial[0] == '#') {
        char* end = nullptr;
        const long room = std::strtol(initial + 1, &end, 10);
        if (end != initial + 1 && *end == '\0' && room >= 0 && room <= (1 << 20)) {
            capacity = static_cast<int>(room);
            initial = "";
        }
    }
    auto text = std::make_unique<TextObject>();
    text->capacity = capacity;
    text->storage.assign(static_cast<std::size_t>(capacity) + 1, '\0');
    text->characters = text->storage.data();
    writeText(*text, 0, initial);
    textStore.push_back(std::move(text));
    return textStore.back().get();
}

void str_cpy(EngineText* text, const char* characters) {
    if (text) writeText(*object(text), 0, characters);
}

void str_cat(EngineText* text, const char* characters) {
    if (text) writeText(*object(text), std::strlen(text->characters), characters);
}

void str_for_num(EngineText* text, EngineNumber number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.3f", fromEngineNumber(number));
    str_cpy(text, digits);
}

void draw_text(const char* characters, EngineNumber x, EngineNumber y, const EngineVector* colour) {
    if (!characters) return;
    if (textQueue.texts.size() >= textQueueCapacity) {
        if (!textQueueOverflowReported)
            reportProblem("more than " + std::to_string(textQueueCapacity) +
                          " texts in one frame; the rest are not drawn (engine option -nx)");
        textQueueOverflowReported = true;
        return;
    }
    auto unit = [](EngineNumber channelValue) {
        return static_cast<float>(std::clamp(fromEngineNumber(channelValue) / 255.0, 0.0, 1.0));
    };
    const EngineVector white{toEngineNumber(255), toEngineNumber(255), toEngineNumber(255)};
    const EngineVector& c = colour ? *colour : white;
    const std::size_t first = textQueue.characters.size();
    textQueue.characters.append(characters);
    textQueue.texts.push_back(QueuedText{first, textQueue.characters.size() - first, fromEngineNumber(x),
                                         fromEngineNumber(y), unit(c.x), unit(c.y), unit(c.z)});
}
