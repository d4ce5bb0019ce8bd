#include "effect_parser.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace d3d9fx {

bool isTexture(ParameterType type) {
    return type == ParameterType::Texture2D || type == ParameterType::Texture3D;
}

const CodeBlock* EffectDescription::findBlock(BlockKind kind, std::string_view name) const {
    for (const CodeBlock& block : blocks) {
        if (block.kind == kind && block.name == name) return &block;
    }
    return nullptr;
}

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The whitespace-separated words of a directive line, up to a "//" comment.
std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (true) {
        while (pos < line.size() && isSpace(line[pos]))
            ++pos;
        if (pos == line.size() || line.substr(pos, 2) == "//") break;
        const std::size_t start = pos;
        while (pos < line.size() && !isSpace(line[pos]))
            ++pos;
        words.push_back(line.substr(start, pos - start));
    }
    return words;
}

std::string quoted(std::string_view text) {
    // Long garbage would bury the message; a name is never this long.
    constexpr std::size_t shown = 60;
    std::string out = "'";
    out += text.substr(0, shown);
    if (text.size() > shown) out += "...";
    out += "'";
    return out;
}

const char* blockKeyword(BlockKind kind) {
    switch (kind) {
    case BlockKind::Common:
        return "@common";
    case BlockKind::Vertex:
        return "@vs";
    case BlockKind::Fragment:
        return "@fs";
    }
    return "";
}

bool isKeyword(std::string_view word) {
    static constexpr std::array<std::string_view, 7> keywords = {
        "@param", "@common", "@vs", "@fs", "@end", "@technique", "@pass"};
    return std::find(keywords.begin(), keywords.end(), word) != keywords.end();
}

template <typename Value> struct Choice {
    std::string_view word;
    Value value;
};

template <typename Value, std::size_t N>
const Value* lookUp(const std::array<Choice<Value>, N>& choices, std::string_view word) {
    for (const Choice<Value>& choice : choices) {
        if (choice.word == word) return &choice.value;
    }
    return nullptr;
}

constexpr std::array<Choice<ParameterType>, 6> parameterTypes = {{
    {"texture2D", ParameterType::Texture2D},
    {"texture3D", ParameterType::Texture3D},
    {"float", ParameterType::Float},
    {"int", ParameterType::Int},
    {"float4", ParameterType::Float4},
    {"float4x4", ParameterType::Float4x4},
}};
constexpr std::array<Choice<TextureFilter>, 2> filters = {{
    {"point", TextureFilter::Point},
    {"linear", TextureFilter::Linear},
}};
constexpr std::array<Choice<TextureAddress>, 2> addresses = {{
    {"wrap", TextureAddress::Wrap},
    {"clamp", TextureAddress::Clamp},
}};
constexpr std::array<Choice<CullMode>, 3> cullModes = {{
    {"none", CullMode::None},
    {"cw", CullMode::Clockwise},
    {"ccw", CullMode::CounterClockwise},
}};
constexpr std::array<Choice<bool>, 2> switches = {{{"true", true}, {"false", false}}};
constexpr std::array<Choice<BlendMode>, 3> blendModes = {{
    {"none", BlendMode::None},
    {"alpha", BlendMode::Alpha},
    {"add", BlendMode::Additive},
}};

class Parser {
  public:
    explicit Parser(std::string_view fileName) : fileName_(fileName) {}

    ParsedEffect parse(std::string_view text) {
        // Windows editors may start a UTF-8 file with a byte order mark.
        if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
        if (text.find_first_not_of(" \t\v\f\r\n") == std::string_view::npos) {
            failFile("the file is empty");
            return std::move(result_);
        }
        const std::vector<std::string_view> lines = splitLines(text);
        for (std::size_t i = 0; i < lines.size() && result_.ok(); ++i) {
            parseLine(lines[i], static_cast<int>(i) + 1);
        }
        if (result_.ok() && open_) {
            fail(open_->line,
                 std::string("the ") + blockName(*open_) + " block is not closed with '@end'");
        }
        if (result_.ok()) validate();
        return std::move(result_);
    }

  private:
    using Words = std::vector<std::string_view>;

    void failFile(const std::string& message) {
        result_.error = std::string(fileName_) + ": error: " + message;
    }

    void fail(int line, const std::string& message) {
        if (!result_.ok()) return;
        result_.error =
            std::string(fileName_) + "(" + std::to_string(line) + "): error: " + message;
    }

    static std::string blockName(const CodeBlock& block) {
        std::string name = std::string("'") + blockKeyword(block.kind);
        if (!block.name.empty()) name += " " + block.name;
        return name + "'";
    }

    void parseLine(std::string_view line, int number) {
        if (line.find('\0') != std::string_view::npos) {
            fail(number, "the line contains a NUL byte");
            return;
        }
        const std::string_view text = trimmed(line);
        if (open_) {
            if (text.empty() || text.front() != '@') {
                open_->code.emplace_back(line);
                return;
            }
            const Words words = splitWords(text);
            if (words.front() != "@end") {
                if (isKeyword(words.front())) {
                    fail(number, quoted(words.front()) + " inside the " + blockName(*open_) +
                                     " block opened at line " + std::to_string(open_->line) +
                                     "; close it with '@end' first");
                } else {
                    fail(number, "unknown keyword " + quoted(words.front()));
                }
                return;
            }
            if (!expectWordCount(words, 1, number)) return;
            open_->endLine = number;
            result_.effect.blocks.push_back(std::move(*open_));
            open_.reset();
            return;
        }
        if (text.empty() || text.starts_with("//")) return;
        if (text.front() != '@') {
            fail(number, "unexpected text outside a block: " + quoted(splitWords(text).front()));
            return;
        }
        const Words words = splitWords(text);
        const std::string_view keyword = words.front();
        if (keyword == "@param") {
            parseParameter(words, number);
        } else if (keyword == "@common") {
            if (expectWordCount(words, 1, number)) openBlock(BlockKind::Common, "", number);
        } else if (keyword == "@vs") {
            parseBlockStart(BlockKind::Vertex, words, number);
        } else if (keyword == "@fs") {
            parseBlockStart(BlockKind::Fragment, words, number);
        } else if (keyword == "@technique") {
            parseTechnique(words, number);
        } else if (keyword == "@pass") {
            parsePass(words, number);
        } else if (keyword == "@end") {
            fail(number, "'@end' without an open block");
        } else {
            fail(number, "unknown keyword " + quoted(keyword));
        }
    }

    bool expectWordCount(const Words& words, std::size_t count, int number) {
        if (words.size() > count) {
            fail(number, "unexpected " + quoted(words[count]) + " after " + quoted(words.front()));
            return false;
        }
        if (words.size() < count) {
            fail(number, quoted(words.front()) + " needs a name");
            return false;
        }
        return true;
    }

    // Names become GLSL identifiers (parameters) or are matched by the program (techniques),
    // so they follow GLSL's rules; "gl_" and "d3d9_" belong to GL and to this layer.
    bool checkName(std::string_view name, int number) {
        const bool wellFormed =
            isLetter(name.front()) &&
            std::all_of(name.begin(), name.end(), [](char c) { return isLetter(c) || isDigit(c); });
        if (!wellFormed) {
            fail(number, quoted(name) + " is not a valid name");
            return false;
        }
        if (name.starts_with("gl_") || name.starts_with("d3d9_") ||
            name.find("__") != std::string_view::npos) {
            fail(number, "the name " + quoted(name) + " is reserved");
            return false;
        }
        return true;
    }

    struct Setting {
        std::string_view key;
        std::string_view value;
    };

    bool splitSetting(std::string_view word, int number, Setting& setting) {
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos || equals == 0 || equals + 1 == word.size()) {
            fail(number, "expected name=value, found " + quoted(word));
            return false;
        }
        setting = {word.substr(0, equals), word.substr(equals + 1)};
        return true;
    }

    template <typename Value, std::size_t N>
    bool choose(const std::array<Choice<Value>, N>& choices, const Setting& setting, int number,
                Value& out) {
        if (const Value* value = lookUp(choices, setting.value)) {
            out = *value;
            return true;
        }
        std::string expected;
        for (std::size_t i = 0; i < N; ++i) {
            expected += i == 0 ? "" : (i + 1 == N ? " or " : ", ");
            expected += choices[i].word;
        }
        fail(number, "invalid value " + quoted(setting.value) + " for " + quoted(setting.key) +
                         " (expected " + expected + ")");
        return false;
    }

    void parseParameter(const Words& words, int number) {
        if (words.size() < 3) {
            fail(number, "'@param' needs a type and a name, as in '@param float4 g_pos'");
            return;
        }
        const ParameterType* type = lookUp(parameterTypes, words[1]);
        if (!type) {
            fail(number, "unknown parameter type " + quoted(words[1]) +
                             " (expected texture2D, texture3D, float, int, float4 or float4x4)");
            return;
        }
        if (!checkName(words[2], number)) return;
        std::vector<Parameter>& parameters = result_.effect.parameters;
        for (const Parameter& other : parameters) {
            if (other.name == words[2]) {
                fail(number, "parameter " + quoted(words[2]) + " is already declared at line " +
                                 std::to_string(other.line));
                return;
            }
        }
        Parameter parameter{std::string(words[2]), *type, TextureFilter::Point,
                            TextureAddress::Wrap, number};
        bool filterSet = false;
        bool addressSet = false;
        for (std::size_t i = 3; i < words.size(); ++i) {
            Setting setting;
            if (!splitSetting(words[i], number, setting)) return;
            if (setting.key != "filter" && setting.key != "address") {
                fail(number, "unknown sampler state " + quoted(setting.key) +
                                 " (expected filter or address)");
                return;
            }
            if (!isTexture(parameter.type)) {
                fail(number, "sampler state " + quoted(setting.key) + " on parameter " +
                                 quoted(parameter.name) + ", which is not a texture");
                return;
            }
            bool& seen = setting.key == "filter" ? filterSet : addressSet;
            if (seen) {
                fail(number, quoted(setting.key) + " is given twice");
                return;
            }
            seen = true;
            const bool chosen = setting.key == "filter"
                                    ? choose(filters, setting, number, parameter.filter)
                                    : choose(addresses, setting, number, parameter.address);
            if (!chosen) return;
        }
        if (isTexture(parameter.type) &&
            std::count_if(parameters.begin(), parameters.end(), [](const Parameter& p) {
                return isTexture(p.type);
            }) == maxTextureParameters) {
            fail(number, "more than " + std::to_string(maxTextureParameters) +
                             " texture parameters (one per texture stage)");
            return;
        }
        parameters.push_back(std::move(parameter));
    }

    void openBlock(BlockKind kind, std::string_view name, int number) {
        open_ = CodeBlock{kind, std::string(name), {}, number, 0};
    }

    void parseBlockStart(BlockKind kind, const Words& words, int number) {
        if (!expectWordCount(words, 2, number) || !checkName(words[1], number)) return;
        if (const CodeBlock* other = result_.effect.findBlock(kind, words[1])) {
            fail(number, "the " + blockName(*other) + " block is already defined at line " +
                             std::to_string(other->line));
            return;
        }
        openBlock(kind, words[1], number);
    }

    void parseTechnique(const Words& words, int number) {
        if (!expectWordCount(words, 2, number) || !checkName(words[1], number)) return;
        for (const Technique& other : result_.effect.techniques) {
            if (other.name == words[1]) {
                fail(number, "technique " + quoted(words[1]) + " is already defined at line " +
                                 std::to_string(other.line));
                return;
            }
        }
        result_.effect.techniques.push_back({std::string(words[1]), {}, number});
    }

    void parsePass(const Words& words, int number) {
        if (result_.effect.techniques.empty()) {
            fail(number, "'@pass' before any '@technique'");
            return;
        }
        if (words.size() < 2 || words[1].find('=') != std::string_view::npos) {
            fail(number, "'@pass' needs a name, as in '@pass p0 vs=quad fs=shade'");
            return;
        }
        if (!checkName(words[1], number)) return;
        Technique& technique = result_.effect.techniques.back();
        for (const Pass& other : technique.passes) {
            if (other.name == words[1]) {
                fail(number, "pass " + quoted(words[1]) + " is already defined at line " +
                                 std::to_string(other.line));
                return;
            }
        }
        Pass pass{std::string(words[1]), {}, {}, {}, number};
        std::vector<std::string_view> seen;
        for (std::size_t i = 2; i < words.size(); ++i) {
            Setting setting;
            if (!splitSetting(words[i], number, setting)) return;
            if (std::find(seen.begin(), seen.end(), setting.key) != seen.end()) {
                fail(number, quoted(setting.key) + " is given twice");
                return;
            }
            seen.push_back(setting.key);
            if (!applyPassSetting(setting, number, pass)) return;
        }
        if (pass.vertexBlock.empty() || pass.fragmentBlock.empty()) {
            fail(number, "pass " + quoted(pass.name) + " has no " +
                             (pass.vertexBlock.empty() ? "vertex code (vs=name)"
                                                       : "fragment code (fs=name)"));
            return;
        }
        technique.passes.push_back(std::move(pass));
    }

    bool applyPassSetting(const Setting& setting, int number, Pass& pass) {
        PassStates& states = pass.states;
        if (setting.key == "vs" || setting.key == "fs") {
            if (!checkName(setting.value, number)) return false;
            (setting.key == "vs" ? pass.vertexBlock : pass.fragmentBlock) = setting.value;
            return true;
        }
        if (setting.key == "cull") {
            return choose(cullModes, setting, number, states.cull.emplace());
        }
        if (setting.key == "zenable") {
            return choose(switches, setting, number, states.depthTest.emplace());
        }
        if (setting.key == "zwrite") {
            return choose(switches, setting, number, states.depthWrite.emplace());
        }
        if (setting.key == "blend") {
            return choose(blendModes, setting, number, states.blend.emplace());
        }
        fail(number, "unknown render state " + quoted(setting.key) +
                         " (expected cull, zenable, zwrite or blend, or vs= and fs= for the code)");
        return false;
    }

    void validate() {
        const EffectDescription& effect = result_.effect;
        if (effect.techniques.empty()) {
            failFile("no '@technique' in the file");
            return;
        }
        for (const Technique& technique : effect.techniques) {
            if (technique.passes.empty()) {
                fail(technique.line, "technique " + quoted(technique.name) + " has no '@pass'");
                return;
            }
            for (const Pass& pass : technique.passes) {
                if (!effect.findBlock(BlockKind::Vertex, pass.vertexBlock)) {
                    fail(pass.line, "pass " + quoted(pass.name) + ": there is no '@vs " +
                                        pass.vertexBlock + "' block");
                    return;
                }
                if (!effect.findBlock(BlockKind::Fragment, pass.fragmentBlock)) {
                    fail(pass.line, "pass " + quoted(pass.name) + ": there is no '@fs " +
                                        pass.fragmentBlock + "' block");
                    return;
                }
            }
        }
    }

    std::string_view fileName_;
    ParsedEffect result_;
    std::optional<CodeBlock> open_;
};

const char* glslType(ParameterType type) {
    switch (type) {
    case ParameterType::Texture2D:
        return "sampler2D";
    case ParameterType::Texture3D:
        return "sampler3D";
    case ParameterType::Float:
        return "float";
    case ParameterType::Int:
        return "int";
    case ParameterType::Float4:
        return "vec4";
    case ParameterType::Float4x4:
        return "mat4";
    }
    return "";
}

// Reads a decimal number at `pos`, advancing it; numbers beyond any real line count fail.
bool readNumber(std::string_view text, std::size_t& pos, std::int64_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && isDigit(text[pos]) && pos - start < 10) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start && (pos == text.size() || !isDigit(text[pos]));
}

bool readChar(std::string_view text, std::size_t& pos, char expected) {
    if (pos < text.size() && text[pos] == expected) {
        ++pos;
        return true;
    }
    return false;
}

// Finds the source line of a located log line and where the message after it starts.
bool locateLogLine(std::string_view line, std::int64_t& sourceLine, std::size_t& messageStart) {
    std::size_t pos = 0;
    std::int64_t stringIndex = 0;
    std::int64_t column = 0;
    if (!readNumber(line, pos, stringIndex)) return false;
    const std::size_t afterIndex = pos;
    // Mesa: "0:12(5): message".
    if (readChar(line, pos, ':') && readNumber(line, pos, sourceLine) && readChar(line, pos, '(') &&
        readNumber(line, pos, column) && readChar(line, pos, ')') && readChar(line, pos, ':')) {
        messageStart = pos;
        return true;
    }
    // NVIDIA: "0(12) : message".
    pos = afterIndex;
    if (readChar(line, pos, '(') && readNumber(line, pos, sourceLine) && readChar(line, pos, ')')) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (readChar(line, pos, ':')) {
            messageStart = pos;
            return true;
        }
    }
    return false;
}

} // namespace

ParsedEffect parseEffect(std::string_view fileName, std::string_view text) {
    return Parser(fileName).parse(text);
}

StageSource assembleStageSource(const EffectDescription& effect, const CodeBlock& stage) {
    StageSource source;
    const auto emit = [&source](std::string_view text, int fileLine) {
        source.text.append(text);
        source.text.push_back('\n');
        source.fileLines.push_back(fileLine);
    };
    const bool vertex = stage.kind == BlockKind::Vertex;
    emit("#version 450 core", stage.line);
    for (const Parameter& parameter : effect.parameters) {
        emit(std::string("uniform ") + glslType(parameter.type) + " " + parameter.name + ";",
             parameter.line);
    }
    if (vertex) emit("uniform vec2 d3d9_pixelOffset;", stage.line);
    for (const CodeBlock& block : effect.blocks) {
        if (block.kind != BlockKind::Common) continue;
        for (std::size_t i = 0; i < block.code.size(); ++i) {
            emit(block.code[i], block.line + 1 + static_cast<int>(i));
        }
    }
    // The author's main runs first, under another name, so that the correction also follows
    // an early return.
    if (vertex) emit("#define main d3d9_authorMain", stage.line);
    for (std::size_t i = 0; i < stage.code.size(); ++i) {
        emit(stage.code[i], stage.line + 1 + static_cast<int>(i));
    }
    if (vertex) {
        emit("#undef main", stage.endLine);
        emit("void main() { d3d9_authorMain(); gl_Position.xy += d3d9_pixelOffset * "
             "gl_Position.w; }",
             stage.endLine);
    }
    return source;
}

std::string mapCompilerLog(std::string_view log, std::string_view fileName,
                           const std::vector<int>& fileLines) {
    std::string mapped;
    for (std::string_view line : splitLines(log)) {
        if (trimmed(line).empty()) continue;
        std::int64_t sourceLine = 0;
        std::size_t messageStart = 0;
        if (!locateLogLine(line, sourceLine, messageStart)) {
            mapped.append(line);
        } else {
            mapped.append(fileName);
            if (sourceLine >= 1 && sourceLine <= static_cast<std::int64_t>(fileLines.size())) {
                mapped += "(" + std::to_string(fileLines[sourceLine - 1]) + ")";
            }
            mapped += ": ";
            mapped.append(trimmed(line.substr(messageStart)));
        }
        mapped.push_back('\n');
    }
    return mapped;
}

std::string mapLinkLog(std::string_view log, std::string_view fileName, int passLine) {
    std::string mapped;
    for (std::string_view line : splitLines(log)) {
        line = trimmed(line);
        if (line.empty()) continue;
        mapped.append(fileName);
        mapped += "(" + std::to_string(passLine) + "): ";
        mapped.append(line);
        mapped.push_back('\n');
    }
    return mapped;
}

} // namespace d3d9fx
