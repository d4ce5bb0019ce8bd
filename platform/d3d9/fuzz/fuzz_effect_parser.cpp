// Feeds arbitrary bytes to the effect parser, alone and spliced into a valid effect at a line
// the first byte chooses, so that the deep paths (passes, references, the GLSL assembly and
// the log mapping) are reached even from an empty corpus. Checks the parser's promises: an
// error names the file, and every generated GLSL line maps to a line of the file.
#include "platform/d3d9/effect_parser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view fileName = "fuzz.fx";

constexpr std::string_view validEffect = R"(@param texture2D g_txMap1 filter=linear address=clamp
@param texture3D g_txNoise
@param float g_z
@param int g_numPolys
@param float4 g_pos
@param float4x4 matWorldViewProj
@common
float twice(float v) { return 2.0 * v; }
@end
@vs quad
layout(location = 0) in vec3 position;
void main() { gl_Position = matWorldViewProj * vec4(position, 1.0); }
@end
@fs shade
layout(location = 0) out vec4 color;
void main() { color = g_pos * twice(g_z); }
@end
@technique first
@pass p0 vs=quad fs=shade cull=none zenable=false zwrite=false blend=alpha
@technique second
@pass p1 vs=quad fs=shade cull=ccw blend=add
)";

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void exercise(std::string_view text) {
    const d3d9fx::ParsedEffect parsed = d3d9fx::parseEffect(fileName, text);
    if (!parsed.ok()) {
        check(parsed.error.starts_with(fileName));
        return;
    }
    const int lineCount = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const d3d9fx::CodeBlock& block : parsed.effect.blocks) {
        if (block.kind == d3d9fx::BlockKind::Common) continue;
        const d3d9fx::StageSource source = d3d9fx::assembleStageSource(parsed.effect, block);
        check(std::count(source.text.begin(), source.text.end(), '\n') ==
              static_cast<std::ptrdiff_t>(source.fileLines.size()));
        for (int line : source.fileLines)
            check(line >= 1 && line <= lineCount);
        // Any text may come back from a compiler; the mapping must cope.
        d3d9fx::mapCompilerLog(text, fileName, source.fileLines);
    }
    d3d9fx::mapLinkLog(text, fileName, parsed.effect.techniques.front().line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    exercise(input);
    if (size == 0) return 0;
    const auto lines =
        static_cast<std::size_t>(std::count(validEffect.begin(), validEffect.end(), '\n'));
    std::size_t offset = 0;
    for (std::size_t line = data[0] % lines; line > 0; --line) {
        offset = validEffect.find('\n', offset) + 1;
    }
    std::string spliced(validEffect.substr(0, offset));
    spliced.append(input.substr(1));
    spliced.append(validEffect.substr(offset));
    exercise(spliced);
    return 0;
}
