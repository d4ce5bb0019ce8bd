// Scripted key presses for unattended runs: "2:C,10-40:W" presses C in frame 2 and holds W
// from frame 10 through frame 40. Frames count from 1, the first engine_frame of the run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Every key the engine reads. Letters are A..Z in order, so letter k is Key(k).
enum class Key : int {
    A = 0,
    Z = 25,
    Up = 26,  // second forward
    Left,     // turn
    Right,    // turn
    PageUp,   // tilt up
    PageDown, // tilt down
    Shift,    // speed up
    Space,    // up
    Ctrl,     // down
    Escape,   // ends the engine
    Count
};
constexpr int keyCount = static_cast<int>(Key::Count);

constexpr Key letterKey(int letter) {
    return static_cast<Key>(letter);
}

// The key named `name`: a single letter (either case) or one of Up, Left, Right, PageUp,
// PageDown, Shift, Space, Ctrl, Escape (any case).
std::optional<Key> keyFromName(std::string_view name);

struct KeyHold {
    int firstFrame;
    int lastFrame;
    Key key;
};

struct KeyScriptParse {
    std::vector<KeyHold> holds; // valid when error is empty
    std::string error;
};

// Items are separated by commas; spaces around items and their parts are allowed. "N:K" is a
// hold from N to N; "A-B:K" needs 1 <= A <= B.
KeyScriptParse parseKeyScript(std::string_view script);

// Whether the script holds `key` down during `frame`.
bool scriptHolds(const std::vector<KeyHold>& holds, Key key, int frame);

} // namespace engine
