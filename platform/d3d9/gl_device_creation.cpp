// Creating textures, buffers and vertex declarations, with the checks Direct3D 9 makes.
#include "gl_internal.h"

#include "gl_enum_tables.h"
#include "failure_injection.h"
#include "refusal.h"

#include <algorithm>

namespace d3d9gl {

namespace {

UINT fullChainLength(UINT width, UINT height, UINT depth) {
    UINT largest = std::max(width, std::max(height, depth));
    UINT levels = 1;
    while (largest > 1) {
        largest >>= 1;
        ++levels;
    }
    return levels;
}

} // namespace

namespace {

// Why a texture of this description cannot be made (checks common to 2D and volume textures),
// or Refusal::None. `allowedUsage`: the usage flags the kind of texture accepts.
Refusal textureRefusal(const FormatInfo* format, D3DFORMAT formatCode, UINT width, UINT height,
                       UINT depth, UINT levels, DWORD usage, DWORD allowedUsage, D3DPOOL pool) {
    if (format == nullptr) {
        return Refusal::UnsupportedFormat;
    }
    if (formatCode == D3DFMT_D24S8) {
        return Refusal::DepthFormat;
    }
    if (width == 0 || height == 0 || depth == 0) {
        return Refusal::ZeroSize;
    }
    if ((usage & ~allowedUsage) != 0) {
        return Refusal::UnsupportedUsage;
    }
    if (pool == D3DPOOL_SCRATCH) {
        return Refusal::ScratchPool;
    }
    if ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) {
        return Refusal::DynamicManaged;
    }
    if (levels > fullChainLength(width, height, depth)) {
        return Refusal::TooManyLevels;
    }
    return Refusal::None;
}

} // namespace

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                              D3DFORMAT formatCode, D3DPOOL pool, IDirect3DTexture9** texture,
                              HANDLE*) {
    constexpr const char* call = "CreateTexture";
    if (texture == nullptr) {
        return refuse(call, Refusal::NoTexturePointer);
    }
    *texture = nullptr;
    if (injectedFailure(call)) return E_OUTOFMEMORY;
    const FormatInfo* format = findFormat(formatCode);
    if (const Refusal reason = textureRefusal(format, formatCode, width, height, 1, levels, usage,
                                              D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, pool);
        reason != Refusal::None) {
        return refuse(call, reason);
    }
    if ((usage & D3DUSAGE_RENDERTARGET) != 0 && pool != D3DPOOL_DEFAULT) {
        return refuse(call, Refusal::RenderTargetNotDefault);
    }
    if ((usage & D3DUSAGE_RENDERTARGET) != 0 && !format->colorRenderable) {
        return refuse(call, Refusal::FormatNotRenderable);
    }
    if (levels == 0) {
        levels = fullChainLength(width, height, 1);
    }
    auto* created = new Texture(this, *format, width, height, levels, usage, pool, false);
    createTextureGl(*created);
    *texture = created;
    return S_OK;
}

HRESULT Device::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                    D3DFORMAT formatCode, D3DPOOL pool,
                                    IDirect3DVolumeTexture9** texture, HANDLE*) {
    constexpr const char* call = "CreateVolumeTexture";
    if (texture == nullptr) {
        return refuse(call, Refusal::NoTexturePointer);
    }
    *texture = nullptr;
    const FormatInfo* format = findFormat(formatCode);
    if (const Refusal reason = textureRefusal(format, formatCode, width, height, depth, levels,
                                              usage, D3DUSAGE_DYNAMIC, pool);
        reason != Refusal::None) {
        return refuse(call, reason);
    }
    if (levels == 0) {
        levels = fullChainLength(width, height, depth);
    }
    auto* created = new VolumeTexture(this, *format, width, height, depth, levels, usage, pool);
    createTextureGl(*created);
    *texture = created;
    return S_OK;
}

void Device::createTextureGl(TextureCore& texture) {
    if (!texture.hasGl()) {
        return;
    }
    std::lock_guard lock(mutex_);
    pool_->bind();
    texture.createGl();
    pool_->publish();
}

namespace {

// Why a buffer of this description cannot be made (checks common to vertex and index
// buffers), or Refusal::None.
Refusal bufferRefusal(UINT length, DWORD usage, D3DPOOL pool) {
    if (length == 0) {
        return Refusal::ZeroLength;
    }
    if (pool == D3DPOOL_SCRATCH) {
        return Refusal::ScratchPool;
    }
    if ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) {
        return Refusal::DynamicManaged;
    }
    return Refusal::None;
}

} // namespace

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE*) {
    constexpr const char* call = "CreateVertexBuffer";
    if (buffer == nullptr) {
        return refuse(call, Refusal::NoBufferPointer);
    }
    *buffer = nullptr;
    if (injectedFailure(call)) return E_OUTOFMEMORY;
    if (const Refusal reason = bufferRefusal(length, usage, pool); reason != Refusal::None) {
        return refuse(call, reason);
    }
    *buffer = new VertexBuffer(this, length, usage, fvf, pool);
    return S_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE*) {
    constexpr const char* call = "CreateIndexBuffer";
    if (buffer == nullptr) {
        return refuse(call, Refusal::NoBufferPointer);
    }
    *buffer = nullptr;
    if (injectedFailure(call)) return E_OUTOFMEMORY;
    if (const Refusal reason = bufferRefusal(length, usage, pool); reason != Refusal::None) {
        return refuse(call, reason);
    }
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) {
        return refuse(call, Refusal::NotIndexFormat);
    }
    *buffer = new IndexBuffer(this, length, usage, format, pool);
    return S_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        IDirect3DVertexDeclaration9** declaration) {
    constexpr const char* call = "CreateVertexDeclaration";
    if (elements == nullptr || declaration == nullptr) {
        return refuse(call, Refusal::NoElementList);
    }
    *declaration = nullptr;
    if (injectedFailure(call)) return E_OUTOFMEMORY;
    std::vector<D3DVERTEXELEMENT9> list;
    for (int i = 0;; ++i) {
        if (i == MAXD3DDECLLENGTH) {
            return refuse(call, Refusal::NoDeclarationEnd);
        }
        const D3DVERTEXELEMENT9& element = elements[i];
        if (element.Stream == 0xFF) {
            break;
        }
        AttributeFormat format{};
        if (element.Stream >= kStreams) {
            return refuse(call, Refusal::ElementStreamOutOfRange);
        }
        if (element.Method != D3DDECLMETHOD_DEFAULT) {
            return refuse(call, Refusal::ElementMethod);
        }
        if (!attributeFormat(element.Type, &format)) {
            return refuse(call, Refusal::ElementType);
        }
        list.push_back(element);
    }
    *declaration = new VertexDeclaration(this, std::move(list));
    return S_OK;
}

} // namespace d3d9gl
