// The device-wide Direct3D state: bindings, render and sampler states and the program, with
// their defaults.
#include "gl_internal.h"

#include "refusal.h"

#include <algorithm>

namespace d3d9gl {

namespace {

Resource* holder(Surface* surface) {
    return surface->texture();
}
Resource* holder(VertexBuffer* buffer) {
    return buffer;
}
Resource* holder(IndexBuffer* buffer) {
    return buffer;
}
Resource* holder(VertexDeclaration* declaration) {
    return declaration;
}
Resource* holder(IDirect3DBaseTexture9* texture) {
    return textureCore(texture);
}

} // namespace

template <class T> void Device::rebind(T*& slot, T* value) {
    if (value != nullptr) {
        holder(value)->hold();
    }
    T* old = slot;
    slot = value;
    if (old != nullptr) {
        holder(old)->drop();
    }
}

void Device::setDefaultState() {
    unbindAll();
    rebind(renderTarget_, backBuffer_->surface(0));
    rebind(depthSurface_, depthBuffer_->surface(0));
    std::fill(std::begin(renderStates_), std::end(renderStates_), 0);
    renderStates_[D3DRS_ZENABLE] = TRUE;
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates_[D3DRS_ALPHABLENDENABLE] = FALSE;
    for (auto& sampler : samplerStates_) {
        std::fill(std::begin(sampler), std::end(sampler), 0);
        sampler[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    }
}

void Device::unbindAll() {
    rebind(renderTarget_, static_cast<Surface*>(nullptr));
    rebind(depthSurface_, static_cast<Surface*>(nullptr));
    rebind(declaration_, static_cast<VertexDeclaration*>(nullptr));
    for (Stream& stream : streams_) {
        rebind(stream.buffer, static_cast<VertexBuffer*>(nullptr));
        stream.offset = stream.stride = 0;
    }
    rebind(indices_, static_cast<IndexBuffer*>(nullptr));
    for (IDirect3DBaseTexture9*& texture : textures_) {
        rebind(texture, static_cast<IDirect3DBaseTexture9*>(nullptr));
    }
    program_ = 0;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (surface == nullptr) {
        return refuse("GetRenderTarget", Refusal::NoSurfacePointer);
    }
    if (index > 3) {
        return refuse("GetRenderTarget", Refusal::RenderTargetIndex);
    }
    *surface = nullptr;
    if (index != 0) {
        return D3DERR_NOTFOUND; // the subset has one render target
    }
    std::lock_guard lock(mutex_);
    renderTarget_->AddRef();
    *surface = renderTarget_;
    return S_OK;
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    if (index != 0) {
        return refuse("SetRenderTarget", Refusal::OnlyRenderTarget0);
    }
    if (surface == nullptr) {
        return refuse("SetRenderTarget", Refusal::RenderTarget0Unset);
    }
    if ((asSurface(surface)->texture()->usage() & D3DUSAGE_RENDERTARGET) == 0) {
        return refuse("SetRenderTarget", Refusal::NotRenderTargetSurface);
    }
    std::lock_guard lock(mutex_);
    if (renderTarget_ != surface) {
        rebind(renderTarget_, asSurface(surface));
        pool_->endBatch();
    }
    return S_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (surface == nullptr) {
        return refuse("GetDepthStencilSurface", Refusal::NoSurfacePointer);
    }
    std::lock_guard lock(mutex_);
    *surface = depthSurface_;
    if (depthSurface_ == nullptr) {
        return D3DERR_NOTFOUND;
    }
    depthSurface_->AddRef();
    return S_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    if (surface != nullptr &&
        (asSurface(surface)->texture()->usage() & D3DUSAGE_DEPTHSTENCIL) == 0) {
        return refuse("SetDepthStencilSurface", Refusal::NotDepthSurface);
    }
    std::lock_guard lock(mutex_);
    if (depthSurface_ != surface) {
        rebind(depthSurface_, asSurface(surface));
        pool_->endBatch();
    }
    return S_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    std::lock_guard lock(mutex_);
    rebind(declaration_, static_cast<VertexDeclaration*>(declaration));
    return S_OK;
}

HRESULT Device::SetStreamSource(UINT number, IDirect3DVertexBuffer9* buffer, UINT offset,
                                UINT stride) {
    if (number >= kStreams) {
        return refuse("SetStreamSource", Refusal::StreamOutOfRange);
    }
    std::lock_guard lock(mutex_);
    Stream& stream = streams_[number];
    rebind(stream.buffer, static_cast<VertexBuffer*>(buffer));
    stream.offset = offset;
    stream.stride = stride;
    return S_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* buffer) {
    std::lock_guard lock(mutex_);
    rebind(indices_, static_cast<IndexBuffer*>(buffer));
    return S_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= kRenderStates) {
        return refuse("SetRenderState", Refusal::RenderStateOutOfRange);
    }
    std::lock_guard lock(mutex_);
    renderStates_[state] = value;
    return S_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (state >= kRenderStates) {
        return refuse("GetRenderState", Refusal::RenderStateOutOfRange);
    }
    if (value == nullptr) {
        return refuse("GetRenderState", Refusal::NoValuePointer);
    }
    std::lock_guard lock(mutex_);
    *value = renderStates_[state];
    return S_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= kStages) {
        return refuse("SetTexture", Refusal::StageOutOfRange);
    }
    std::lock_guard lock(mutex_);
    rebind(textures_[stage], texture);
    return S_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (stage >= kStages) {
        return refuse("GetTexture", Refusal::StageOutOfRange);
    }
    if (texture == nullptr) {
        return refuse("GetTexture", Refusal::NoTexturePointer);
    }
    std::lock_guard lock(mutex_);
    *texture = textures_[stage];
    if (*texture != nullptr) {
        (*texture)->AddRef();
    }
    return S_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kStages || type >= kSamplerStates) {
        return refuse("SetSamplerState", Refusal::SamplerStateOutOfRange);
    }
    std::lock_guard lock(mutex_);
    samplerStates_[sampler][type] = value;
    return S_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (sampler >= kStages || type >= kSamplerStates) {
        return refuse("GetSamplerState", Refusal::SamplerStateOutOfRange);
    }
    if (value == nullptr) {
        return refuse("GetSamplerState", Refusal::NoValuePointer);
    }
    std::lock_guard lock(mutex_);
    *value = samplerStates_[sampler][type];
    return S_OK;
}

void Device::setProgram(GLuint program) {
    std::lock_guard lock(mutex_);
    program_ = program;
}

void Device::deleteProgram(GLuint program) {
    std::lock_guard lock(mutex_);
    if (program_ == program) {
        program_ = 0;
    }
    pool_->bind();
    pool_->deleteProgram(program);
}

GLuint Device::program() {
    std::lock_guard lock(mutex_);
    return program_;
}

} // namespace d3d9gl
