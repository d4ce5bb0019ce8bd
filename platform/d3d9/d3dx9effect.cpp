// ID3DXEffect over GLSL programs: the file is parsed by effect_parser, every vertex and
// fragment block a pass uses is compiled once, and every distinct pair is linked once.
#include "d3dx9effect.h"

#include "d3dx_ref_counted.h"
#include "effect_parser.h"
#include "gl_device.h"
#include "platform/files/bounded_file.h"
#include "refusal.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace d3d9fx;

constexpr DWORD acceptedCompileFlags = D3DXSHADER_DEBUG | D3DXSHADER_SKIPOPTIMIZATION |
                                       D3DXSHADER_AVOID_FLOW_CONTROL |
                                       D3DXSHADER_USE_LEGACY_D3DX9_31_DLL;

// The sampler states a texture parameter sets on its stage (and Begin saves).
constexpr std::array<D3DSAMPLERSTATETYPE, 5> effectSamplerStates = {
    D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_ADDRESSW, D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER};

std::array<DWORD, effectSamplerStates.size()> samplerStateValues(const Parameter& parameter) {
    const DWORD address =
        parameter.address == TextureAddress::Wrap ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
    const DWORD filter = parameter.filter == TextureFilter::Point ? D3DTEXF_POINT : D3DTEXF_LINEAR;
    return {address, address, address, filter, filter};
}

struct RenderStateValue {
    D3DRENDERSTATETYPE state;
    DWORD value;
};

std::vector<RenderStateValue> renderStatesOf(const PassStates& states) {
    std::vector<RenderStateValue> values;
    if (states.cull) {
        const DWORD cull = *states.cull == CullMode::None        ? D3DCULL_NONE
                           : *states.cull == CullMode::Clockwise ? D3DCULL_CW
                                                                 : D3DCULL_CCW;
        values.push_back({D3DRS_CULLMODE, cull});
    }
    if (states.depthTest) values.push_back({D3DRS_ZENABLE, static_cast<DWORD>(*states.depthTest)});
    if (states.depthWrite) {
        values.push_back({D3DRS_ZWRITEENABLE, static_cast<DWORD>(*states.depthWrite)});
    }
    if (states.blend) {
        values.push_back(
            {D3DRS_ALPHABLENDENABLE, static_cast<DWORD>(*states.blend != BlendMode::None)});
        if (*states.blend == BlendMode::Alpha) {
            values.push_back({D3DRS_SRCBLEND, D3DBLEND_SRCALPHA});
            values.push_back({D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA});
        } else if (*states.blend == BlendMode::Additive) {
            values.push_back({D3DRS_SRCBLEND, D3DBLEND_ONE});
            values.push_back({D3DRS_DESTBLEND, D3DBLEND_ONE});
        }
    }
    return values;
}

struct ProgramUniform {
    std::size_t parameter;
    GLint location;
};

struct LinkedProgram {
    GLuint name = 0;
    std::vector<ProgramUniform> uniforms; // the parameters the program uses
};

struct PassSetup {
    std::size_t program;
    std::vector<RenderStateValue> renderStates;
};

// Compiles and links the programs of every pass; on failure appends the mapped logs to
// `errors` and deletes what it made.
class ProgramBuilder {
  public:
    ProgramBuilder(const EffectDescription& effect, std::string_view fileName)
        : effect_(effect), fileName_(fileName) {}

    bool build(std::vector<LinkedProgram>& programs,
               std::vector<std::vector<PassSetup>>& techniques, std::string& errors) {
        // Compile errors are the effect's result, reported in its error buffer with the file's
        // own lines; the driver's copies on the debug stream carry generated line numbers.
        glDebugMessageControl(GL_DEBUG_SOURCE_SHADER_COMPILER, GL_DEBUG_TYPE_ERROR, GL_DONT_CARE, 0,
                              nullptr, GL_FALSE);
        for (const Technique& technique : effect_.techniques) {
            for (const Pass& pass : technique.passes) {
                compile(BlockKind::Vertex, pass.vertexBlock, errors);
                compile(BlockKind::Fragment, pass.fragmentBlock, errors);
            }
        }
        const bool ok = errors.empty() && linkAll(programs, techniques, errors);
        for (const auto& [block, shader] : shaders_) {
            glDeleteShader(shader);
        }
        if (!ok) {
            for (const LinkedProgram& program : programs) {
                glDeleteProgram(program.name);
            }
            programs.clear();
        }
        return ok;
    }

  private:
    // The GL's message about a shader or program, as a string.
    static std::string infoLog(GLuint object, PFNGLGETSHADERIVPROC getParameter,
                               PFNGLGETSHADERINFOLOGPROC getLog) {
        GLint length = 0;
        getParameter(object, GL_INFO_LOG_LENGTH, &length);
        std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
        getLog(object, static_cast<GLsizei>(log.size()), nullptr, log.data());
        return log.c_str();
    }

    void compile(BlockKind kind, const std::string& name, std::string& errors) {
        const auto key = std::make_pair(kind, name);
        if (shaders_.contains(key) || failed_.contains(key)) return;
        const CodeBlock& block = *effect_.findBlock(kind, name);
        const StageSource source = assembleStageSource(effect_, block);
        const GLuint shader =
            glCreateShader(kind == BlockKind::Vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
        const GLchar* text = source.text.c_str();
        const GLint length = static_cast<GLint>(source.text.size());
        glShaderSource(shader, 1, &text, &length);
        glCompileShader(shader);
        GLint compiled = GL_FALSE;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
        if (compiled == GL_TRUE) {
            shaders_.emplace(key, shader);
            return;
        }
        const std::string log = infoLog(shader, glGetShaderiv, glGetShaderInfoLog);
        glDeleteShader(shader);
        failed_.insert(key);
        const std::string mapped = mapCompilerLog(log, fileName_, source.fileLines);
        errors += mapped.empty() ? location(block.line) + "error: the GL compiler rejected the " +
                                       blockTitle(block) + " block without a message\n"
                                 : mapped;
    }

    // Links one program per distinct pair of blocks and sets up every pass.
    bool linkAll(std::vector<LinkedProgram>& programs,
                 std::vector<std::vector<PassSetup>>& techniques, std::string& errors) {
        std::map<std::pair<std::string, std::string>, std::size_t> linked;
        for (const Technique& technique : effect_.techniques) {
            std::vector<PassSetup>& passes = techniques.emplace_back();
            for (const Pass& pass : technique.passes) {
                const auto key = std::make_pair(pass.vertexBlock, pass.fragmentBlock);
                auto found = linked.find(key);
                if (found == linked.end()) {
                    const GLuint program = link(pass, errors);
                    if (program == 0) return false;
                    found = linked.emplace(key, programs.size()).first;
                    programs.push_back({program, activeUniforms(program)});
                }
                passes.push_back({found->second, renderStatesOf(pass.states)});
            }
        }
        return true;
    }

    GLuint link(const Pass& pass, std::string& errors) {
        const GLuint program = glCreateProgram();
        glAttachShader(program, shaders_.at({BlockKind::Vertex, pass.vertexBlock}));
        glAttachShader(program, shaders_.at({BlockKind::Fragment, pass.fragmentBlock}));
        glLinkProgram(program);
        GLint linkedOk = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linkedOk);
        if (linkedOk == GL_TRUE) return program;
        const std::string log = infoLog(program, glGetProgramiv, glGetProgramInfoLog);
        glDeleteProgram(program);
        const std::string mapped = mapLinkLog(log, fileName_, pass.line);
        errors += mapped.empty() ? location(pass.line) + "error: linking pass '" + pass.name +
                                       "' failed without a message\n"
                                 : mapped;
        return 0;
    }

    std::vector<ProgramUniform> activeUniforms(GLuint program) const {
        std::vector<ProgramUniform> uniforms;
        for (std::size_t i = 0; i < effect_.parameters.size(); ++i) {
            const GLint location =
                glGetUniformLocation(program, effect_.parameters[i].name.c_str());
            if (location >= 0) uniforms.push_back({i, location});
        }
        return uniforms;
    }

    std::string location(int line) const {
        return std::string(fileName_) + "(" + std::to_string(line) + "): ";
    }

    static std::string blockTitle(const CodeBlock& block) {
        return std::string(block.kind == BlockKind::Vertex ? "'@vs " : "'@fs ") + block.name + "'";
    }

    const EffectDescription& effect_;
    std::string_view fileName_;
    std::map<std::pair<BlockKind, std::string>, GLuint> shaders_;
    std::set<std::pair<BlockKind, std::string>> failed_;
};

auto ofType(ParameterType wanted) {
    return [wanted](ParameterType type) { return type == wanted; };
}

struct ParameterValue {
    std::array<float, 16> floats{};
    int integer = 0;
    IDirect3DBaseTexture9* texture = nullptr; // referenced
};

struct SavedStage {
    DWORD stage;
    IDirect3DBaseTexture9* texture; // referenced by GetTexture
    std::array<DWORD, effectSamplerStates.size()> samplerStates;
};

class Effect final : public d3dx::RefCounted<ID3DXEffect, Effect> {
  public:
    Effect(IDirect3DDevice9* device, EffectDescription description,
           std::vector<LinkedProgram> programs, std::vector<std::vector<PassSetup>> techniques)
        : device_(device), description_(std::move(description)), programs_(std::move(programs)),
          techniques_(std::move(techniques)), values_(description_.parameters.size()) {
        device_->AddRef();
        DWORD stage = 0;
        for (const Parameter& parameter : description_.parameters) {
            textureStages_.push_back(isTexture(parameter.type) ? stage++ : 0);
        }
    }

    HRESULT SetTechnique(D3DXHANDLE name) override {
        if (!name) return d3d9gl::refuse("SetTechnique", d3d9gl::Refusal::NoTechniqueName);
        if (begun_) return d3d9gl::refuse("SetTechnique", d3d9gl::Refusal::InsideBegin);
        for (std::size_t i = 0; i < description_.techniques.size(); ++i) {
            if (description_.techniques[i].name == name) {
                technique_ = i;
                return S_OK;
            }
        }
        return d3d9gl::refuse("SetTechnique", d3d9gl::Refusal::UnknownTechnique);
    }

    HRESULT SetTexture(D3DXHANDLE name, IDirect3DBaseTexture9* texture) override {
        const std::size_t index = find(name, [texture](ParameterType type) {
            if (!texture) return isTexture(type);
            const D3DRESOURCETYPE resource = texture->GetType();
            return (type == ParameterType::Texture2D && resource == D3DRTYPE_TEXTURE) ||
                   (type == ParameterType::Texture3D && resource == D3DRTYPE_VOLUMETEXTURE);
        });
        if (index == notFound) return d3d9gl::refuse("SetTexture", d3d9gl::Refusal::UnknownTexture);
        if (texture) texture->AddRef();
        if (values_[index].texture) values_[index].texture->Release();
        values_[index].texture = texture;
        return S_OK;
    }

    HRESULT SetMatrix(D3DXHANDLE name, const D3DXMATRIX* matrix) override {
        if (!matrix) return d3d9gl::refuse("SetMatrix", d3d9gl::Refusal::NoMatrix);
        return setFloats(name, ParameterType::Float4x4, &matrix->m[0][0], 16);
    }

    HRESULT SetVector(D3DXHANDLE name, const D3DXVECTOR4* vector) override {
        if (!vector) return d3d9gl::refuse("SetVector", d3d9gl::Refusal::NoVector);
        const float floats[4] = {vector->x, vector->y, vector->z, vector->w};
        return setFloats(name, ParameterType::Float4, floats, 4);
    }

    HRESULT SetFloat(D3DXHANDLE name, FLOAT value) override {
        return setFloats(name, ParameterType::Float, &value, 1);
    }

    HRESULT SetInt(D3DXHANDLE name, INT value) override {
        const std::size_t index = find(name, ofType(ParameterType::Int));
        if (index == notFound) return d3d9gl::refuse("SetInt", d3d9gl::Refusal::UnknownInt);
        values_[index].integer = value;
        return S_OK;
    }

    HRESULT CommitChanges() override {
        if (passOpen_) applyValues(programs_[currentPasses()[pass_].program]);
        return S_OK;
    }

    HRESULT Begin(UINT* passes, DWORD flags) override {
        if (begun_) return d3d9gl::refuse("Begin", d3d9gl::Refusal::InsideBegin);
        if (flags != 0 && flags != D3DXFX_DONOTSAVESTATE)
            return d3d9gl::refuse("Begin", d3d9gl::Refusal::UnsupportedBeginFlags);
        if (passes) *passes = static_cast<UINT>(currentPasses().size());
        saving_ = flags == 0;
        if (saving_) saveState();
        begun_ = true;
        return S_OK;
    }

    HRESULT BeginPass(UINT pass) override {
        if (!begun_) return d3d9gl::refuse("BeginPass", d3d9gl::Refusal::OutsideBegin);
        if (passOpen_) return d3d9gl::refuse("BeginPass", d3d9gl::Refusal::PassOpen);
        if (pass >= currentPasses().size())
            return d3d9gl::refuse("BeginPass", d3d9gl::Refusal::PassOutOfRange);
        const PassSetup& setup = currentPasses()[pass];
        const LinkedProgram& program = programs_[setup.program];
        d3d9gl::setProgram(device_, program.name);
        for (const RenderStateValue& state : setup.renderStates) {
            device_->SetRenderState(state.state, state.value);
        }
        applyValues(program);
        pass_ = pass;
        passOpen_ = true;
        return S_OK;
    }

    HRESULT EndPass() override {
        if (!passOpen_) return d3d9gl::refuse("EndPass", d3d9gl::Refusal::NoPassOpen);
        passOpen_ = false;
        return S_OK;
    }

    HRESULT End() override {
        if (!begun_) return d3d9gl::refuse("End", d3d9gl::Refusal::OutsideBegin);
        if (saving_) restoreState();
        begun_ = false;
        passOpen_ = false;
        return S_OK;
    }

  private:
    friend d3dx::RefCounted<ID3DXEffect, Effect>;
    static constexpr std::size_t notFound = static_cast<std::size_t>(-1);

    ~Effect() {
        releaseSavedTextures();
        for (ParameterValue& value : values_) {
            if (value.texture) value.texture->Release();
        }
        for (const LinkedProgram& program : programs_) {
            d3d9gl::deleteProgram(device_, program.name);
        }
        device_->Release();
    }

    template <typename Accepts> std::size_t find(D3DXHANDLE name, Accepts accepts) const {
        if (!name) return notFound;
        for (std::size_t i = 0; i < description_.parameters.size(); ++i) {
            const Parameter& parameter = description_.parameters[i];
            if (parameter.name == name) return accepts(parameter.type) ? i : notFound;
        }
        return notFound;
    }

    HRESULT setFloats(D3DXHANDLE name, ParameterType type, const float* floats, std::size_t count) {
        const std::size_t index = find(name, ofType(type));
        if (index == notFound)
            return d3d9gl::refuse("SetFloat/SetVector/SetMatrix", d3d9gl::Refusal::UnknownFloats);
        std::copy(floats, floats + count, values_[index].floats.begin());
        return S_OK;
    }

    const std::vector<PassSetup>& currentPasses() const { return techniques_[technique_]; }

    // Binds the pass's textures and uploads every value its program uses.
    void applyValues(const LinkedProgram& program) {
        for (const ProgramUniform& uniform : program.uniforms) {
            const Parameter& parameter = description_.parameters[uniform.parameter];
            if (!isTexture(parameter.type)) continue;
            const DWORD stage = textureStages_[uniform.parameter];
            device_->SetTexture(stage, values_[uniform.parameter].texture);
            const auto states = samplerStateValues(parameter);
            for (std::size_t i = 0; i < effectSamplerStates.size(); ++i) {
                device_->SetSamplerState(stage, effectSamplerStates[i], states[i]);
            }
        }
        d3d9gl::bindThreadContext(device_);
        for (const ProgramUniform& uniform : program.uniforms) {
            const ParameterValue& value = values_[uniform.parameter];
            switch (description_.parameters[uniform.parameter].type) {
            case ParameterType::Texture2D:
            case ParameterType::Texture3D:
                glProgramUniform1i(program.name, uniform.location,
                                   static_cast<GLint>(textureStages_[uniform.parameter]));
                break;
            case ParameterType::Float:
                glProgramUniform1f(program.name, uniform.location, value.floats[0]);
                break;
            case ParameterType::Int:
                glProgramUniform1i(program.name, uniform.location, value.integer);
                break;
            case ParameterType::Float4:
                glProgramUniform4fv(program.name, uniform.location, 1, value.floats.data());
                break;
            case ParameterType::Float4x4:
                // Row-major Direct3D matrices go up unchanged (see gl_device.h).
                glProgramUniformMatrix4fv(program.name, uniform.location, 1, GL_FALSE,
                                          value.floats.data());
                break;
            }
        }
    }

    void saveState() {
        savedProgram_ = d3d9gl::currentProgram(device_);
        std::vector<D3DRENDERSTATETYPE> states;
        std::vector<std::size_t> textureParameters;
        for (const PassSetup& pass : currentPasses()) {
            for (const RenderStateValue& value : pass.renderStates) {
                if (std::find(states.begin(), states.end(), value.state) == states.end()) {
                    states.push_back(value.state);
                }
            }
            for (const ProgramUniform& uniform : programs_[pass.program].uniforms) {
                if (isTexture(description_.parameters[uniform.parameter].type) &&
                    std::find(textureParameters.begin(), textureParameters.end(),
                              uniform.parameter) == textureParameters.end()) {
                    textureParameters.push_back(uniform.parameter);
                }
            }
        }
        for (D3DRENDERSTATETYPE state : states) {
            DWORD value = 0;
            device_->GetRenderState(state, &value);
            savedRenderStates_.push_back({state, value});
        }
        for (std::size_t parameter : textureParameters) {
            SavedStage saved{textureStages_[parameter], nullptr, {}};
            device_->GetTexture(saved.stage, &saved.texture);
            for (std::size_t i = 0; i < effectSamplerStates.size(); ++i) {
                device_->GetSamplerState(saved.stage, effectSamplerStates[i],
                                         &saved.samplerStates[i]);
            }
            savedStages_.push_back(saved);
        }
    }

    void restoreState() {
        for (const RenderStateValue& saved : savedRenderStates_) {
            device_->SetRenderState(saved.state, saved.value);
        }
        for (const SavedStage& saved : savedStages_) {
            device_->SetTexture(saved.stage, saved.texture);
            for (std::size_t i = 0; i < effectSamplerStates.size(); ++i) {
                device_->SetSamplerState(saved.stage, effectSamplerStates[i],
                                         saved.samplerStates[i]);
            }
        }
        d3d9gl::setProgram(device_, savedProgram_);
        savedRenderStates_.clear();
        releaseSavedTextures();
    }

    void releaseSavedTextures() {
        for (const SavedStage& saved : savedStages_) {
            if (saved.texture) saved.texture->Release();
        }
        savedStages_.clear();
    }

    IDirect3DDevice9* device_;
    EffectDescription description_;
    std::vector<LinkedProgram> programs_;
    std::vector<std::vector<PassSetup>> techniques_; // parallel to description_.techniques
    std::vector<ParameterValue> values_;             // parallel to description_.parameters
    std::vector<DWORD> textureStages_;               // parallel to description_.parameters
    std::size_t technique_ = 0;
    bool begun_ = false;
    bool passOpen_ = false;
    UINT pass_ = 0;
    bool saving_ = false;
    GLuint savedProgram_ = 0;
    std::vector<RenderStateValue> savedRenderStates_;
    std::vector<SavedStage> savedStages_;
};

HRESULT giveErrors(LPD3DXBUFFER* errorBuffer, const std::string& text, HRESULT result) {
    if (errorBuffer &&
        SUCCEEDED(D3DXCreateBuffer(static_cast<DWORD>(text.size() + 1), errorBuffer))) {
        std::memcpy((*errorBuffer)->GetBufferPointer(), text.c_str(), text.size() + 1);
    }
    return result;
}

// Effect files are text of a few kilobytes; anything this large is not one.
constexpr std::size_t largestEffectFile = std::size_t{16} << 20;

} // namespace

HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* device, LPCSTR fileName,
                                  const D3DXMACRO* defines, LPD3DXINCLUDE include, DWORD flags,
                                  LPD3DXEFFECTPOOL pool, LPD3DXEFFECT* effect,
                                  LPD3DXBUFFER* errors) {
    if (errors) *errors = nullptr;
    if (!effect)
        return d3d9gl::refuse("D3DXCreateEffectFromFileA", d3d9gl::Refusal::NoEffectPointer);
    *effect = nullptr;
    if (!device) return d3d9gl::refuse("D3DXCreateEffectFromFileA", d3d9gl::Refusal::NoDevice);
    if (!fileName) return d3d9gl::refuse("D3DXCreateEffectFromFileA", d3d9gl::Refusal::NoFileName);
    const std::string file = fileName;
    const auto refuse = [&](const std::string& what) {
        return giveErrors(errors, file + ": error: " + what + "\n", D3DERR_INVALIDCALL);
    };
    if (defines && defines[0].Name) return refuse("macro definitions are not supported");
    if (include) return refuse("include handlers are not supported");
    if (pool) return refuse("effect pools are not supported");
    if (flags & ~acceptedCompileFlags) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(flags));
        return refuse(std::string("unsupported compile flags ") + hex);
    }

    const files::FileRead read = files::readBoundedFile(fileName, largestEffectFile);
    if (!read.ok()) {
        return giveErrors(errors, file + ": error: " + read.problem + "\n", D3DERR_NOTFOUND);
    }
    ParsedEffect parsed = parseEffect(file, std::string(read.bytes.begin(), read.bytes.end()));
    if (!parsed.ok()) return giveErrors(errors, parsed.error + "\n", E_FAIL);

    d3d9gl::bindThreadContext(device);
    std::vector<LinkedProgram> programs;
    std::vector<std::vector<PassSetup>> techniques;
    std::string compileErrors;
    if (!ProgramBuilder(parsed.effect, file).build(programs, techniques, compileErrors)) {
        return giveErrors(errors, compileErrors, E_FAIL);
    }
    // Other threads' contexts draw with these programs.
    d3d9gl::publishWrites(device);
    *effect =
        new Effect(device, std::move(parsed.effect), std::move(programs), std::move(techniques));
    return S_OK;
}
