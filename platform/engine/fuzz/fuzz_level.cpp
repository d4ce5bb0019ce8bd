// The level reader over arbitrary bytes: it never crashes, and whatever it accepts is written
// back and read again unchanged.
#include "platform/engine/level_format.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const engine::LevelParse parsed = engine::parseLevel({data, size});
    if (parsed.level) {
        const engine::LevelParse again = engine::parseLevel(engine::serializeLevel(*parsed.level));
        if (!again.level || !(*again.level == *parsed.level)) __builtin_trap();
    }
    return 0;
}
