// The engine's text face: the printable ASCII glyphs of a monospaced font rendered once by
// FreeType into one 8-bit coverage image.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

constexpr const char* textFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
constexpr int textPixelSize = 14;

struct Glyph {
    int atlasX = 0, atlasY = 0; // top-left in the atlas
    int width = 0, height = 0;
    int left = 0, top = 0; // offset of the glyph image from the pen's top-left corner
};

struct GlyphAtlas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> coverage; // width x height, row 0 at the top
    int advance = 0;                    // pen advance per character
    int lineHeight = 0;
    std::array<Glyph, 95> glyphs; // characters 32..126

    // Characters outside 32..126 are drawn as '?'.
    const Glyph& glyph(char character) const;
};

// Renders the atlas from the font file; false with `error` set when FreeType cannot.
bool buildGlyphAtlas(const char* fontPath, int pixelSize, GlyphAtlas& atlas, std::string& error);

} // namespace engine
