// The effect file format (EFFECTS.md describes it for effect authors): a pure parser from the
// file's text to an effect description, and the GLSL that each stage of the description
// compiles from. Nothing here touches OpenGL, so the parser can be tested and fuzzed alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace d3d9fx {

// Texture stages 0..15 of the device; the k-th texture parameter of an effect uses stage k.
inline constexpr int maxTextureParameters = 16;

enum class ParameterType { Texture2D, Texture3D, Float, Int, Float4, Float4x4 };
enum class TextureFilter { Point, Linear };
enum class TextureAddress { Wrap, Clamp };

struct Parameter {
    std::string name;
    ParameterType type = ParameterType::Float;
    // Sampler states; meaningful for the texture types only. Direct3D's defaults.
    TextureFilter filter = TextureFilter::Point;
    TextureAddress address = TextureAddress::Wrap;
    int line = 0; // of its @param directive
};

bool isTexture(ParameterType type);

enum class BlockKind { Common, Vertex, Fragment };

// A run of GLSL lines copied verbatim from the file: line i (0-based) of `code` is file line
// `line + 1 + i`.
struct CodeBlock {
    BlockKind kind = BlockKind::Common;
    std::string name; // empty for @common
    std::vector<std::string> code;
    int line = 0;    // of the opening directive
    int endLine = 0; // of its @end
};

enum class CullMode { None, Clockwise, CounterClockwise };
enum class BlendMode { None, Alpha, Additive };

// The render states a pass names; a state the pass leaves out is not touched.
struct PassStates {
    std::optional<CullMode> cull;
    std::optional<bool> depthTest;
    std::optional<bool> depthWrite;
    std::optional<BlendMode> blend;
};

struct Pass {
    std::string name;
    std::string vertexBlock;
    std::string fragmentBlock;
    PassStates states;
    int line = 0;
};

struct Technique {
    std::string name;
    std::vector<Pass> passes;
    int line = 0;
};

struct EffectDescription {
    std::vector<Parameter> parameters;
    std::vector<CodeBlock> blocks;
    std::vector<Technique> techniques;

    const CodeBlock* findBlock(BlockKind kind, std::string_view name) const;
};

// Either the description, or `error` as "file(line): error: what" (or "file: error: what" for
// the file as a whole), naming the first problem found.
struct ParsedEffect {
    EffectDescription effect;
    std::string error;

    bool ok() const { return error.empty(); }
};

ParsedEffect parseEffect(std::string_view fileName, std::string_view text);

// The complete GLSL 4.50 source of one vertex or fragment block: the parameters as uniforms,
// every @common block, then the block's own code; a vertex stage also gets Direct3D's
// half-pixel correction after the author's main. `fileLines[i]` is the effect file line that
// source line i + 1 comes from (generated lines map to the directive that caused them).
struct StageSource {
    std::string text;
    std::vector<int> fileLines;
};

StageSource assembleStageSource(const EffectDescription& effect, const CodeBlock& stage);

// Rewrites a GLSL compiler log so that each located message names the effect file and its own
// line: "0:12(5): error: x" (Mesa) and "0(12) : error C1: x" (NVIDIA) become
// "file(L): error: x" / "file(L): error C1: x". Other lines are kept; blank lines dropped.
std::string mapCompilerLog(std::string_view log, std::string_view fileName,
                           const std::vector<int>& fileLines);

// A link log has no source lines; each of its lines is reported at the pass's line.
std::string mapLinkLog(std::string_view log, std::string_view fileName, int passLine);

} // namespace d3d9fx
