#include "platform/engine/key_script.h"

#include <array>
#include <cctype>
#include <charconv>

namespace engine {

namespace {

struct NamedKey {
    std::string_view name;
    Key key;
};

constexpr std::array<NamedKey, 9> namedKeys{{
    {"up", Key::Up},
    {"left", Key::Left},
    {"right", Key::Right},
    {"pageup", Key::PageUp},
    {"pagedown", Key::PageDown},
    {"shift", Key::Shift},
    {"space", Key::Space},
    {"ctrl", Key::Ctrl},
    {"escape", Key::Escape},
}};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::optional<int> frameNumber(std::string_view text) {
    text = trimmed(text);
    int value = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || status != std::errc() || end != text.data() + text.size() || value < 1)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Key> keyFromName(std::string_view name) {
    if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0])))
        return letterKey(std::toupper(static_cast<unsigned char>(name[0])) - 'A');
    for (const NamedKey& named : namedKeys) {
        if (equalIgnoringCase(name, named.name)) return named.key;
    }
    return std::nullopt;
}

KeyScriptParse parseKeyScript(std::string_view script) {
    KeyScriptParse result;
    std::size_t itemStart = 0;
    while (itemStart <= script.size()) {
        std::size_t itemEnd = script.find(',', itemStart);
        if (itemEnd == std::string_view::npos) itemEnd = script.size();
        const std::string_view item = trimmed(script.substr(itemStart, itemEnd - itemStart));
        itemStart = itemEnd + 1;

        const std::string quoted = "\"" + std::string(item) + "\"";
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            result.error = "key script item " + quoted + " is not FRAME:KEY or FIRST-LAST:KEY";
            return result;
        }
        const std::string_view frames = item.substr(0, colon);
        const std::string_view keyName = trimmed(item.substr(colon + 1));
        const std::optional<Key> key = keyFromName(keyName);
        if (!key) {
            result.error =
                "key script item " + quoted + ": unknown key \"" + std::string(keyName) + "\"";
            return result;
        }
        const std::size_t dash = frames.find('-');
        const std::optional<int> first = frameNumber(frames.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : frameNumber(frames.substr(dash + 1));
        if (!first || !last) {
            result.error = "key script item " + quoted + ": frames count from 1";
            return result;
        }
        if (*last < *first) {
            result.error = "key script item " + quoted + ": the hold ends before it starts";
            return result;
        }
        result.holds.push_back(KeyHold{*first, *last, *key});
    }
    return result;
}

bool scriptHolds(const std::vector<KeyHold>& holds, Key key, int frame) {
    for (const KeyHold& hold : holds) {
        if (hold.key == key && hold.firstFrame <= frame && frame <= hold.lastFrame) return true;
    }
    return false;
}

} // namespace engine
