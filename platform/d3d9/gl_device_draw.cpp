// Draws and clears, and the binding for other layers' own drawing into the back buffer.
#include "gl_internal.h"

#include "gl_enum_tables.h"
#include "refusal.h"

namespace d3d9gl {

HRESULT Device::draw(D3DPRIMITIVETYPE type, UINT primitives, const DrawRange& range) {
    const char* const call = range.indexed ? "DrawIndexedPrimitive" : "DrawPrimitive";
    const Topology* topology = topologyOf(type);
    if (topology == nullptr) {
        return refuse(call, Refusal::UnsupportedPrimitive);
    }
    const GLenum mode = topology->mode;
    const std::uint64_t count =
        std::uint64_t{primitives} * topology->verticesPerPrimitive + topology->extraVertices;
    if (primitives == 0) {
        return refuse(call, Refusal::NoPrimitives);
    }
    // The vertices the draw reads: the drawn run, or the range an indexed draw names.
    const std::int64_t firstVertex =
        range.indexed ? std::int64_t{range.baseVertex} + range.minVertex : range.first;
    const std::uint64_t vertexCount = range.indexed ? range.vertices : count;
    if (firstVertex < 0) {
        return refuse(call, Refusal::NegativeFirstVertex);
    }
    if (vertexCount == 0) {
        return refuse(call, Refusal::NoVertices);
    }
    std::lock_guard lock(mutex_);
    if (program_ == 0) {
        return refuse(call, Refusal::NoProgram);
    }
    if (declaration_ == nullptr) {
        return refuse(call, Refusal::NoVertexDeclaration);
    }
    if (range.indexed && indices_ == nullptr) {
        return refuse(call, Refusal::NoIndexBuffer);
    }
    const std::uint64_t lastVertex = static_cast<std::uint64_t>(firstVertex) + vertexCount - 1;
    for (const D3DVERTEXELEMENT9& element : declaration_->elements()) {
        const Stream& stream = streams_[element.Stream];
        AttributeFormat format{};
        attributeFormat(element.Type, &format);
        if (stream.buffer == nullptr ||
            stream.offset + lastVertex * stream.stride + element.Offset + format.bytes >
                stream.buffer->size()) {
            return refuse(call, Refusal::VerticesPastStream);
        }
    }
    const UINT indexSize = range.indexed && indices_->format() == D3DFMT_INDEX32 ? 4 : 2;
    if (range.indexed && (std::uint64_t{range.first} + count) * indexSize > indices_->size()) {
        return refuse(call, Refusal::IndicesPastBuffer);
    }
    ContextState& context = pool_->bind();
    separateFromQueuedReads(*renderTarget_->texture());
    bool uploaded = false;
    if (const Refusal reason = attach(context, renderTarget_, depthSurface_);
        reason != Refusal::None) {
        return refuse(call, reason);
    }
    if (!applyVertexInput(context, range.indexed, &uploaded)) {
        return refuse(call, Refusal::StreamUnset);
    }
    if (uploaded) {
        pool_->publish(); // other threads may draw the buffer next
    }
    checkPublished(renderTarget_->texture(), "a render target");
    for (IDirect3DBaseTexture9* texture : textures_) {
        checkPublished(textureCore(texture), "a sampled texture");
    }
    noteWrites(renderTarget_, depthSurface_);
    noteReads();
    applyPipeline(context);
    if (range.indexed) {
        glDrawElementsBaseVertex(
            mode, static_cast<GLsizei>(count), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
            reinterpret_cast<const void*>(static_cast<std::uintptr_t>(range.first) * indexSize),
            range.baseVertex);
    } else {
        glDrawArrays(mode, static_cast<GLint>(range.first), static_cast<GLsizei>(count));
    }
    return S_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitives) {
    return draw(type, primitives, DrawRange{false, startVertex, 0, 0, 0});
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minVertex,
                                     UINT vertices, UINT startIndex, UINT primitives) {
    return draw(type, primitives, DrawRange{true, startIndex, baseVertex, minVertex, vertices});
}

HRESULT Device::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
    const bool depthOrStencil = (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0;
    constexpr const char* call = "Clear";
    if (count != 0 && rects == nullptr) {
        return refuse(call, Refusal::NoRectangles);
    }
    if ((flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0) {
        return refuse(call, Refusal::UnsupportedClearFlags);
    }
    std::lock_guard lock(mutex_);
    if (depthOrStencil && depthSurface_ == nullptr) {
        return refuse(call, Refusal::ClearWithoutDepth);
    }
    ContextState& context = pool_->bind();
    Surface* depth = depthOrStencil ? depthSurface_ : nullptr;
    if ((flags & D3DCLEAR_TARGET) != 0) {
        separateFromQueuedReads(*renderTarget_->texture());
    }
    if (const Refusal reason = attach(context, renderTarget_, depth); reason != Refusal::None) {
        return refuse(call, reason);
    }
    checkPublished(renderTarget_->texture(), "a render target");
    noteWrites((flags & D3DCLEAR_TARGET) != 0 ? renderTarget_ : nullptr, depth);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    const float rgba[4] = {static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                           static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                           static_cast<float>(color & 0xFF) / 255.0f,
                           static_cast<float>((color >> 24) & 0xFF) / 255.0f};
    const auto stencilValue = static_cast<GLint>(stencil & 0xFF);
    const auto clearBuffers = [&] {
        if ((flags & D3DCLEAR_TARGET) != 0) {
            glClearNamedFramebufferfv(context.framebuffer, GL_COLOR, 0, rgba);
        }
        if ((flags & D3DCLEAR_ZBUFFER) != 0 && (flags & D3DCLEAR_STENCIL) != 0) {
            glClearNamedFramebufferfi(context.framebuffer, GL_DEPTH_STENCIL, 0, z, stencilValue);
        } else if ((flags & D3DCLEAR_ZBUFFER) != 0) {
            glClearNamedFramebufferfv(context.framebuffer, GL_DEPTH, 0, &z);
        } else if ((flags & D3DCLEAR_STENCIL) != 0) {
            glClearNamedFramebufferiv(context.framebuffer, GL_STENCIL, 0, &stencilValue);
        }
    };
    if (count == 0) {
        glDisable(GL_SCISSOR_TEST);
        clearBuffers();
    } else {
        // Window y is the row index here: the clip control puts row 0 at the top.
        glEnable(GL_SCISSOR_TEST);
        for (DWORD i = 0; i < count; ++i) {
            const RECT& rect = rects[i];
            if (rect.right <= rect.left || rect.bottom <= rect.top) {
                continue;
            }
            glScissor(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
            clearBuffers();
        }
        glDisable(GL_SCISSOR_TEST);
    }
    return S_OK;
}

void Device::bindBackBufferForDrawing() {
    std::lock_guard lock(mutex_);
    ContextState& context = pool_->bind();
    context.texturesCurrent = false; // the caller binds textures of its own
    separateFromQueuedReads(*backBuffer_);
    Surface* color = backBuffer_->surface(0);
    Surface* depth = depthBuffer_->surface(0);
    if (attach(context, color, depth) == Refusal::None) {
        checkPublished(backBuffer_, "the back buffer");
        noteWrites(color, depth);
    }
}

} // namespace d3d9gl
