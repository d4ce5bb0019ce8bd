// The engine's objects behind the public structs: bitmaps with their pixels, panels, text
// objects, and the texts queued for the current frame.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Pixels are 32-bit B, G, R, A in memory (Direct3D's A8R8G8B8), row 0 at the top.
struct BitmapObject : EngineBitmap {
    int depth = 32;                                 // bits per pixel asked for
    std::vector<std::vector<std::uint32_t>> levels; // level 0 first; more after bmap_to_mipmap
    unsigned revision = 0;                          // grows whenever the pixels change
};

struct PanelObject : EnginePanel {
    int creationOrder = 0; // panels of one layer are drawn in the order they were made
};

struct TextObject : EngineText {
    std::vector<char> storage; // capacity + 1 bytes; characters points into it
};

struct QueuedText {
    std::size_t first, length; // its characters in TextQueue::characters
    double x, y;               // top-left corner, pixels
    float red, green, blue;    // 0..1
};

// The texts of one frame. Their characters are copied (the program rewrites one text object
// between draws) into one buffer that keeps its capacity from frame to frame, so queueing a
// text allocates nothing once the first frames have run.
struct TextQueue {
    std::vector<QueuedText> texts;
    std::string characters;

    std::string_view charactersOf(const QueuedText& text) const {
        return std::string_view(characters).substr(text.first, text.length);
    }
    void clear() {
        texts.clear();
        characters.clear();
    }
};

// Every panel made so far, in creation order.
const std::vector<PanelObject*>& panels();

// Texts given to draw_text since the last frame took them; `capacity` bounds the queue.
TextQueue& queuedTexts();
void setTextQueueCapacity(int capacity);

// The size of a level of a width x height image.
constexpr int mipExtent(int extent, int level) {
    return (extent >> level) > 0 ? (extent >> level) : 1;
}

// The chain of box-filtered levels under `level0` (width x height), down to 1 x 1.
std::vector<std::vector<std::uint32_t>> mipChain(const std::vector<std::uint32_t>& level0,
                                                 int width, int height);

} // namespace engine
