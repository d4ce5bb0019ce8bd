#include "platform/d3d9/effect_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace d3d9fx;
using namespace std::string_literals;

// Line numbers are part of what is tested: keep this text's lines where they are.
constexpr std::string_view validEffect = R"(// Comments and blank lines may stand between blocks.
@param texture2D g_txMap1 filter=linear address=clamp
@param texture3D g_txNoise
@param float g_z
@param int g_numPolys
@param float4 g_pos
@param float4x4 matWorldViewProj   // trailing comment

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
@pass p1 vs=quad fs=shade cull=ccw

@technique second
@pass only vs=quad fs=shade zenable=true zwrite=true cull=cw blend=add
)";

TEST(EffectParser, ReadsParametersBlocksTechniquesAndPassStates) {
    const ParsedEffect parsed = parseEffect("test.fx", validEffect);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const EffectDescription& effect = parsed.effect;

    ASSERT_EQ(effect.parameters.size(), 6u);
    EXPECT_EQ(effect.parameters[0].name, "g_txMap1");
    EXPECT_EQ(effect.parameters[0].type, ParameterType::Texture2D);
    EXPECT_EQ(effect.parameters[0].filter, TextureFilter::Linear);
    EXPECT_EQ(effect.parameters[0].address, TextureAddress::Clamp);
    EXPECT_EQ(effect.parameters[1].type, ParameterType::Texture3D);
    EXPECT_EQ(effect.parameters[1].filter, TextureFilter::Point); // Direct3D's defaults
    EXPECT_EQ(effect.parameters[1].address, TextureAddress::Wrap);
    EXPECT_EQ(effect.parameters[2].type, ParameterType::Float);
    EXPECT_EQ(effect.parameters[3].type, ParameterType::Int);
    EXPECT_EQ(effect.parameters[4].type, ParameterType::Float4);
    EXPECT_EQ(effect.parameters[5].type, ParameterType::Float4x4);
    EXPECT_EQ(effect.parameters[5].name, "matWorldViewProj");
    EXPECT_EQ(effect.parameters[5].line, 7);

    ASSERT_EQ(effect.blocks.size(), 3u);
    const CodeBlock* vertex = effect.findBlock(BlockKind::Vertex, "quad");
    ASSERT_NE(vertex, nullptr);
    EXPECT_EQ(vertex->line, 13);
    EXPECT_EQ(vertex->endLine, 16);
    ASSERT_EQ(vertex->code.size(), 2u);
    EXPECT_EQ(vertex->code[0], "layout(location = 0) in vec3 position;");
    EXPECT_EQ(effect.findBlock(BlockKind::Fragment, "quad"), nullptr);

    ASSERT_EQ(effect.techniques.size(), 2u);
    const Technique& first = effect.techniques[0];
    EXPECT_EQ(first.name, "first");
    ASSERT_EQ(first.passes.size(), 2u);
    const Pass& p0 = first.passes[0];
    EXPECT_EQ(p0.line, 24);
    EXPECT_EQ(p0.vertexBlock, "quad");
    EXPECT_EQ(p0.fragmentBlock, "shade");
    EXPECT_EQ(p0.states.cull, CullMode::None);
    EXPECT_EQ(p0.states.depthTest, false);
    EXPECT_EQ(p0.states.depthWrite, false);
    EXPECT_EQ(p0.states.blend, BlendMode::Alpha);
    // A state the pass leaves out stays unset, so the pass does not touch it.
    const Pass& p1 = first.passes[1];
    EXPECT_EQ(p1.states.cull, CullMode::CounterClockwise);
    EXPECT_FALSE(p1.states.depthTest.has_value());
    EXPECT_FALSE(p1.states.depthWrite.has_value());
    EXPECT_FALSE(p1.states.blend.has_value());
    const Pass& only = effect.techniques[1].passes.at(0);
    EXPECT_EQ(only.states.cull, CullMode::Clockwise);
    EXPECT_EQ(only.states.depthTest, true);
    EXPECT_EQ(only.states.blend, BlendMode::Additive);
}

TEST(EffectParser, WindowsLineEndingsAndByteOrderMarkReadLikeUnixText) {
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : validEffect) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const ParsedEffect parsed = parseEffect("test.fx", crlf);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.effect.findBlock(BlockKind::Vertex, "quad")->code[0],
              "layout(location = 0) in vec3 position;");
    EXPECT_EQ(parsed.effect.techniques[0].passes[0].states.blend, BlendMode::Alpha);
}

constexpr std::string_view blocks = "@vs v\nvoid main() {}\n@end\n@fs f\nvoid main() {}\n@end\n";

struct Failure {
    const char* what;
    std::string text;
    std::string location; // "file(line)" or "file" for the whole file
    const char* message;  // a piece of the message
};

TEST(EffectParser, EveryMistakeNamesTheFileAndLine) {
    const std::string technique = "@technique t\n@pass p vs=v fs=f\n";
    const Failure failures[] = {
        {"misspelt keyword", std::string(blocks) + "@tecnique t\n", "bad.fx(7)",
         "unknown keyword '@tecnique'"},
        {"misspelt keyword in a block", "@vs v\n@ned\n", "bad.fx(2)", "unknown keyword '@ned'"},
        {"block inside a block", "@vs v\nvoid main() {}\n@fs f\n@end\n@end\n", "bad.fx(3)",
         "inside the '@vs v' block opened at line 1"},
        {"stray @end", std::string(blocks) + "@end\n", "bad.fx(7)", "'@end' without an open"},
        {"unclosed block", std::string(blocks) + technique + "@common\nfloat x;\n", "bad.fx(9)",
         "'@common' block is not closed"},
        {"unknown render state", std::string(blocks) + "@technique t\n@pass p vs=v fs=f zwirte=1\n",
         "bad.fx(8)", "unknown render state 'zwirte'"},
        {"bad state value", std::string(blocks) + "@technique t\n@pass p vs=v fs=f cull=back\n",
         "bad.fx(8)", "invalid value 'back' for 'cull' (expected none, cw or ccw)"},
        {"state twice", std::string(blocks) + "@technique t\n@pass p vs=v fs=f cull=cw cull=cw\n",
         "bad.fx(8)", "'cull' is given twice"},
        {"setting without value", std::string(blocks) + "@technique t\n@pass p vs=v fs=f cull\n",
         "bad.fx(8)", "expected name=value"},
        {"pass without fragment code", std::string(blocks) + "@technique t\n@pass p vs=v\n",
         "bad.fx(8)", "pass 'p' has no fragment code"},
        {"pass without any code", std::string(blocks) + "@technique t\n@pass p cull=none\n",
         "bad.fx(8)", "pass 'p' has no vertex code"},
        {"pass without a name", std::string(blocks) + "@technique t\n@pass vs=v fs=f\n",
         "bad.fx(8)", "'@pass' needs a name"},
        {"pass naming missing code", std::string(blocks) + "@technique t\n@pass p vs=v fs=g\n",
         "bad.fx(8)", "there is no '@fs g' block"},
        {"pass before technique", std::string(blocks) + "@pass p vs=v fs=f\n", "bad.fx(7)",
         "before any '@technique'"},
        {"technique without passes",
         std::string(blocks) + "@technique t\n@technique u\n" + "@pass p vs=v fs=f\n", "bad.fx(7)",
         "technique 't' has no '@pass'"},
        {"duplicate technique", std::string(blocks) + technique + technique, "bad.fx(9)",
         "technique 't' is already defined at line 7"},
        {"duplicate block", std::string(blocks) + "@fs f\n@end\n", "bad.fx(7)",
         "'@fs f' block is already defined at line 4"},
        {"unknown parameter type", "@param float3 g_dir\n" + std::string(blocks) + technique,
         "bad.fx(1)", "unknown parameter type 'float3'"},
        {"parameter without name", "@param float\n", "bad.fx(1)", "needs a type and a name"},
        {"duplicate parameter", "@param float a\n\n@param int a\n", "bad.fx(3)",
         "parameter 'a' is already declared at line 1"},
        {"sampler state on a float", "@param float a filter=point\n", "bad.fx(1)",
         "which is not a texture"},
        {"unknown sampler state", "@param texture2D t mip=none\n", "bad.fx(1)",
         "unknown sampler state 'mip'"},
        {"bad filter", "@param texture2D t filter=bilinear\n", "bad.fx(1)",
         "invalid value 'bilinear' for 'filter' (expected point or linear)"},
        {"reserved name", "@param float gl_z\n", "bad.fx(1)", "'gl_z' is reserved"},
        {"name that is no identifier", "@vs 2pass\n@end\n", "bad.fx(1)",
         "'2pass' is not a valid name"},
        {"code outside a block", "void main() {}\n", "bad.fx(1)",
         "unexpected text outside a block: 'void'"},
        {"extra word", "@common shared\n@end\n", "bad.fx(1)", "unexpected 'shared' after"},
        {"NUL byte", "@vs v\nfloat x\0;\n@end\n"s, "bad.fx(2)", "NUL byte"},
        {"empty file", " \r\n\t\n", "bad.fx", "the file is empty"},
        {"no technique", std::string(blocks), "bad.fx", "no '@technique'"},
    };
    for (const Failure& failure : failures) {
        const ParsedEffect parsed = parseEffect("bad.fx", failure.text);
        EXPECT_FALSE(parsed.ok()) << failure.what;
        EXPECT_TRUE(parsed.error.starts_with(failure.location + ": error: "))
            << failure.what << ": " << parsed.error;
        EXPECT_NE(parsed.error.find(failure.message), std::string::npos)
            << failure.what << ": " << parsed.error;
    }
}

TEST(EffectParser, AtMostOneTextureParameterPerStage) {
    std::string text;
    for (int i = 0; i <= maxTextureParameters; ++i) {
        text += "@param texture2D t" + std::to_string(i) + "\n@param float f" + std::to_string(i) +
                "\n";
    }
    text += std::string(blocks) + "@technique t\n@pass p vs=v fs=f\n";
    const ParsedEffect parsed = parseEffect("many.fx", text);
    EXPECT_TRUE(parsed.error.starts_with("many.fx(33): error: more than 16 texture parameters"))
        << parsed.error;
}

// The compiler sees generated lines around the author's; every line must lead back to the
// file line it came from, and the author's lines must arrive unchanged.
TEST(EffectSource, EveryGeneratedLineMapsBackToTheFile) {
    const ParsedEffect parsed = parseEffect("test.fx", validEffect);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    std::vector<std::string> fileLines;
    for (std::size_t start = 0; start < validEffect.size();) {
        const std::size_t end = validEffect.find('\n', start);
        fileLines.emplace_back(validEffect.substr(start, end - start));
        start = end + 1;
    }
    for (BlockKind kind : {BlockKind::Vertex, BlockKind::Fragment}) {
        const CodeBlock& block =
            *parsed.effect.findBlock(kind, kind == BlockKind::Vertex ? "quad" : "shade");
        const StageSource source = assembleStageSource(parsed.effect, block);
        std::vector<std::string> sourceLines;
        for (std::size_t start = 0; start < source.text.size();) {
            const std::size_t end = source.text.find('\n', start);
            sourceLines.push_back(source.text.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_EQ(sourceLines.size(), source.fileLines.size());
        EXPECT_EQ(sourceLines.front(), "#version 450 core");
        int copied = 0;
        for (std::size_t i = 0; i < sourceLines.size(); ++i) {
            const int fileLine = source.fileLines[i];
            ASSERT_GE(fileLine, 1);
            ASSERT_LE(fileLine, static_cast<int>(fileLines.size()));
            if (sourceLines[i] == fileLines[fileLine - 1]) ++copied;
        }
        // The common function and the block's two lines are copied; the parameter
        // declarations map to their @param lines.
        EXPECT_EQ(copied, 3);
        const auto declares = [&](const std::string& line) {
            return std::find(sourceLines.begin(), sourceLines.end(), line) != sourceLines.end();
        };
        EXPECT_TRUE(declares("uniform sampler2D g_txMap1;"));
        EXPECT_TRUE(declares("uniform sampler3D g_txNoise;"));
        EXPECT_TRUE(declares("uniform int g_numPolys;"));
        EXPECT_TRUE(declares("uniform vec4 g_pos;"));
        EXPECT_TRUE(declares("uniform mat4 matWorldViewProj;"));
        const bool vertex = kind == BlockKind::Vertex;
        EXPECT_EQ(declares("uniform vec2 d3d9_pixelOffset;"), vertex);
        EXPECT_EQ(source.text.find("gl_Position.xy += d3d9_pixelOffset * gl_Position.w;") !=
                      std::string::npos,
                  vertex);
        if (vertex) {
            EXPECT_EQ(source.fileLines.back(), block.endLine);
        }
    }
}

TEST(EffectSource, CompilerLogsNameTheEffectFileLine) {
    const std::vector<int> fileLines = {3, 4, 10, 11, 12};
    EXPECT_EQ(mapCompilerLog("0:4(7): error: `x' undeclared\n"
                             "0:5(1): warning: unused\n\n",
                             "renderMap.fx", fileLines),
              "renderMap.fx(11): error: `x' undeclared\nrenderMap.fx(12): warning: unused\n");
    EXPECT_EQ(
        mapCompilerLog("0(3) : error C1008: undefined variable \"x\"\n", "renderMap.fx", fileLines),
        "renderMap.fx(10): error C1008: undefined variable \"x\"\n");
    // A line outside the source keeps the message without a line; unlocated text stays.
    EXPECT_EQ(
        mapCompilerLog("0:99(1): error: beyond\ninternal error\n0:x(1): odd\n", "a.fx", fileLines),
        "a.fx: error: beyond\ninternal error\n0:x(1): odd\n");
    EXPECT_EQ(mapLinkLog("error: no main\n\n  error: twice\n", "a.fx", 42),
              "a.fx(42): error: no main\na.fx(42): error: twice\n");
}

} // namespace
