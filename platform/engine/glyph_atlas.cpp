#include "platform/engine/glyph_atlas.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr int firstCharacter = 32;
constexpr int lastCharacter = 126;
constexpr int atlasColumns = 16;

struct RenderedGlyph {
    Glyph placement;
    std::vector<std::uint8_t> coverage;
};

// FreeType objects released on every path out.
struct FreeTypeFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~FreeTypeFace() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

} // namespace

const Glyph& GlyphAtlas::glyph(char character) const {
    const int code = static_cast<unsigned char>(character);
    const int index = (code >= firstCharacter && code <= lastCharacter) ? code : '?';
    return glyphs[static_cast<std::size_t>(index - firstCharacter)];
}

bool buildGlyphAtlas(const char* fontPath, int pixelSize, GlyphAtlas& atlas, std::string& error) {
    FreeTypeFace ft;
    if (FT_Init_FreeType(&ft.library) != 0) {
        error = "FreeType does not start";
        return false;
    }
    if (FT_New_Face(ft.library, fontPath, 0, &ft.face) != 0) {
        error = std::string("cannot load the font ") + fontPath;
        return false;
    }
    if (FT_Set_Pixel_Sizes(ft.face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        error = "the font has no " + std::to_string(pixelSize) + " pixel size";
        return false;
    }
    const FT_Size_Metrics& metrics = ft.face->size->metrics;
    const int ascender = static_cast<int>((metrics.ascender + 63) >> 6);
    atlas.lineHeight = static_cast<int>((metrics.height + 63) >> 6);

    std::vector<RenderedGlyph> rendered;
    int cellWidth = 1, cellHeight = 1;
    for (int code = firstCharacter; code <= lastCharacter; ++code) {
        if (FT_Load_Char(ft.face, static_cast<FT_ULong>(code), FT_LOAD_RENDER) != 0) {
            error = "the font cannot render character " + std::to_string(code);
            return false;
        }
        const FT_GlyphSlot slot = ft.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        RenderedGlyph glyph;
        glyph.placement.width = static_cast<int>(bitmap.width);
        glyph.placement.height = static_cast<int>(bitmap.rows);
        glyph.placement.left = slot->bitmap_left;
        glyph.placement.top = ascender - slot->bitmap_top;
        glyph.coverage.resize(bitmap.width * bitmap.rows);
        for (unsigned row = 0; row < bitmap.rows; ++row)
            std::memcpy(glyph.coverage.data() + row * bitmap.width,
                        bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch,
                        bitmap.width);
        if (code == 'M') atlas.advance = static_cast<int>((slot->advance.x + 63) >> 6);
        cellWidth = std::max(cellWidth, glyph.placement.width + 1);
        cellHeight = std::max(cellHeight, glyph.placement.height + 1);
        rendered.push_back(std::move(glyph));
    }

    const int glyphCount = lastCharacter - firstCharacter + 1;
    atlas.width = atlasColumns * cellWidth;
    atlas.height = (glyphCount + atlasColumns - 1) / atlasColumns * cellHeight;
    atlas.coverage.assign(static_cast<std::size_t>(atlas.width) * atlas.height, 0);
    for (int i = 0; i < glyphCount; ++i) {
        RenderedGlyph& glyph = rendered[static_cast<std::size_t>(i)];
        glyph.placement.atlasX = i % atlasColumns * cellWidth;
        glyph.placement.atlasY = i / atlasColumns * cellHeight;
        for (int row = 0; row < glyph.placement.height; ++row)
            std::memcpy(&atlas.coverage[static_cast<std::size_t>(glyph.placement.atlasY + row) *
                                            atlas.width +
                                        glyph.placement.atlasX],
                        glyph.coverage.data() +
                            static_cast<std::size_t>(row) * glyph.placement.width,
                        static_cast<std::size_t>(glyph.placement.width));
        atlas.glyphs[static_cast<std::size_t>(i)] = glyph.placement;
    }
    return true;
}

} // namespace engine
