// Applying the device-wide state to the calling thread's context before a draw: framebuffer,
// vertex input, samplers and the fixed-function GL state; and the batch bookkeeping of what
// the context reads and writes.
#include "gl_internal.h"

#include "gl_enum_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace d3d9gl {

Refusal Device::attach(ContextState& context, Surface* color, Surface* depth) {
    TextureCore& colorTexture = *color->texture();
    const auto level = static_cast<GLint>(color->level());
    const TextureCore::Level& size = colorTexture.level(color->level());
    if (depth != nullptr) {
        // Direct3D 9 needs a depth surface at least as large as the render target; GL would
        // silently draw only where both overlap.
        const TextureCore::Level& depthSize = depth->texture()->level(depth->level());
        if (depthSize.width < size.width || depthSize.height < size.height) {
            return Refusal::DepthSmallerThanTarget;
        }
    }
    bool changed = false;
    if (context.colorAttachmentId != colorTexture.glId() || context.colorAttachmentLevel != level) {
        glNamedFramebufferTexture(context.framebuffer, GL_COLOR_ATTACHMENT0, colorTexture.glName(),
                                  level);
        context.colorAttachmentId = colorTexture.glId();
        context.colorAttachmentLevel = level;
        changed = true;
    }
    const std::uint64_t depthId = depth != nullptr ? depth->texture()->glId() : 0;
    if (context.depthAttachmentId != depthId) {
        glNamedFramebufferTexture(context.framebuffer, GL_DEPTH_STENCIL_ATTACHMENT,
                                  depth != nullptr ? depth->texture()->glName() : 0, 0);
        context.depthAttachmentId = depthId;
        changed = true;
    }
    if (changed) {
        context.framebufferComplete =
            glCheckNamedFramebufferStatus(context.framebuffer, GL_DRAW_FRAMEBUFFER) ==
            GL_FRAMEBUFFER_COMPLETE;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, context.framebuffer);
    glViewport(0, 0, static_cast<GLsizei>(size.width), static_cast<GLsizei>(size.height));
    glDepthRangef(0.0f, 1.0f);
    return context.framebufferComplete ? Refusal::None : Refusal::FramebufferIncomplete;
}

void Device::noteWrites(Surface* color, Surface* depth) {
    for (Surface* surface : {color, depth}) {
        if (surface != nullptr) {
            pool_->noteWrite(surface->texture()->glId());
        }
    }
}

void Device::checkPublished(const TextureCore* texture, const char* use) {
    if (texture == nullptr || !texture->hasGl() || !pool_->writtenByAnother(texture->glId())) {
        return;
    }
    // Its drawing may still be queued in the other thread's context, unseen here.
    std::fprintf(stderr,
                 "d3d9gl: %s is used while another thread's batch that drew into it is still "
                 "open; that thread must end its batch first (see gl_device.h)\n",
                 use);
    if (glDebugMode() == GlDebug::Abort) {
        std::abort();
    }
}

void Device::separateFromQueuedReads(TextureCore& texture) {
    if (!pool_->readByAnother(texture.glId())) {
        return;
    }
    const std::uint64_t oldId = texture.glId();
    pool_->retireTexture(texture.renameGl(), oldId);
}

void Device::noteReads() {
    std::uint64_t ids[kStages];
    std::size_t count = 0;
    for (IDirect3DBaseTexture9* texture : textures_) {
        const TextureCore* core = textureCore(texture);
        if (core != nullptr && core->hasGl()) {
            ids[count++] = core->glId();
        }
    }
    pool_->noteReads(ids, count);
}

bool Device::applyVertexInput(ContextState& context, bool indexed, bool* uploaded) {
    const GLuint vertexArray = context.vertexArray;
    if (context.declarationId != declaration_->id()) {
        for (GLuint location = 0; location < 32; ++location) {
            if ((context.enabledAttributes & (1u << location)) != 0) {
                glDisableVertexArrayAttrib(vertexArray, location);
            }
        }
        context.enabledAttributes = 0;
        for (const D3DVERTEXELEMENT9& element : declaration_->elements()) {
            const int location = attributeLocation(element.Usage, element.UsageIndex);
            AttributeFormat format{};
            if (location < 0 || !attributeFormat(element.Type, &format)) {
                continue; // an element no shader input can receive
            }
            const auto index = static_cast<GLuint>(location);
            glEnableVertexArrayAttrib(vertexArray, index);
            glVertexArrayAttribFormat(vertexArray, index, format.size, format.type,
                                      format.normalized, element.Offset);
            glVertexArrayAttribBinding(vertexArray, index, element.Stream);
            context.enabledAttributes |= 1u << index;
        }
        context.declarationId = declaration_->id();
    }
    for (int number = 0; number < kStreams; ++number) {
        if ((declaration_->streamMask() & (1u << number)) == 0) {
            continue;
        }
        const Stream& stream = streams_[number];
        if (stream.buffer == nullptr || stream.stride == 0) {
            return false;
        }
        GLuint name = 0;
        std::uint64_t id = 0;
        *uploaded |= stream.buffer->prepareForDraw(&name, &id);
        ContextState::StreamBinding& bound = context.streams[number];
        if (bound.bufferId != id || bound.offset != stream.offset ||
            bound.stride != stream.stride) {
            glVertexArrayVertexBuffer(vertexArray, static_cast<GLuint>(number), name,
                                      static_cast<GLintptr>(stream.offset),
                                      static_cast<GLsizei>(stream.stride));
            bound = {id, stream.offset, stream.stride};
        }
    }
    if (indexed) {
        GLuint name = 0;
        std::uint64_t id = 0;
        *uploaded |= indices_->prepareForDraw(&name, &id);
        if (context.indexBufferId != id) {
            glVertexArrayElementBuffer(vertexArray, name);
            context.indexBufferId = id;
        }
    }
    glBindVertexArray(vertexArray);
    return true;
}

GLuint Device::samplerFor(ContextState& context, int stage) {
    const DWORD* states = samplerStates_[stage];
    const auto key = std::make_tuple(states[D3DSAMP_ADDRESSU], states[D3DSAMP_ADDRESSV],
                                     states[D3DSAMP_ADDRESSW], states[D3DSAMP_MAGFILTER],
                                     states[D3DSAMP_MINFILTER], states[D3DSAMP_MIPFILTER]);
    auto found = context.samplers.find(key);
    if (found != context.samplers.end()) {
        return found->second;
    }
    GLuint sampler = 0;
    glCreateSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, addressMode(states[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, addressMode(states[D3DSAMP_ADDRESSV]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, addressMode(states[D3DSAMP_ADDRESSW]));
    const DWORD mag = states[D3DSAMP_MAGFILTER];
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER,
                        mag == D3DTEXF_LINEAR || mag == D3DTEXF_ANISOTROPIC ? GL_LINEAR
                                                                            : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER,
                        minificationFilter(states[D3DSAMP_MINFILTER], states[D3DSAMP_MIPFILTER]));
    context.samplers.emplace(key, sampler);
    return sampler;
}

void Device::applyPipeline(ContextState& context) {
    // Everything a draw depends on, every time: other layers draw with their own GL state.
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_RASTERIZER_DISCARD);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_PRIMITIVE_RESTART);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDisable(GL_DEPTH_CLAMP);
    glDisable(GL_SAMPLE_ALPHA_TO_COVERAGE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    // The upper-left origin mirrors the picture, and with it the winding GL sees: what
    // Direct3D calls clockwise on screen, GL calls clockwise again.
    glFrontFace(GL_CW);
    switch (renderStates_[D3DRS_CULLMODE]) {
    case D3DCULL_NONE:
        glDisable(GL_CULL_FACE);
        break;
    case D3DCULL_CW:
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT);
        break;
    default:
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        break;
    }
    if (depthSurface_ != nullptr && renderStates_[D3DRS_ZENABLE] != FALSE) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(compareFunction(renderStates_[D3DRS_ZFUNC]));
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(renderStates_[D3DRS_ZWRITEENABLE] != FALSE ? GL_TRUE : GL_FALSE);
    if (renderStates_[D3DRS_ALPHABLENDENABLE] != FALSE) {
        glEnable(GL_BLEND);
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(blendFactor(renderStates_[D3DRS_SRCBLEND]),
                    blendFactor(renderStates_[D3DRS_DESTBLEND]));
    } else {
        glDisable(GL_BLEND);
    }
    glUseProgram(program_);
    pool_->noteProgramUse(program_);
    const GLint pixelOffset = glGetUniformLocation(program_, "d3d9_pixelOffset");
    if (pixelOffset >= 0) {
        const TextureCore::Level& size = renderTarget_->texture()->level(renderTarget_->level());
        glProgramUniform2f(program_, pixelOffset, 1.0f / static_cast<float>(size.width),
                           -1.0f / static_cast<float>(size.height));
    }
    static_assert(kStages == ContextState::kTextureUnits);
    for (int stage = 0; stage < kStages; ++stage) {
        const TextureCore* texture = textureCore(textures_[stage]);
        const auto unit = static_cast<GLuint>(stage);
        const bool bound = texture != nullptr && texture->hasGl();
        const std::uint64_t id = bound ? texture->glId() : 0;
        if (!context.texturesCurrent || context.textureIds[stage] != id) {
            glBindTextureUnit(unit, bound ? texture->glName() : 0);
            context.textureIds[stage] = id;
        }
        glBindSampler(unit, bound ? samplerFor(context, stage) : 0);
    }
    context.texturesCurrent = true;
}

} // namespace d3d9gl
