// Creating textures, buffers and vertex declarations, with the checks Direct3D 9 makes.
#include "gl_internal.h"

#include "gl_enum_tables.h"

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

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                              D3DFORMAT formatCode, D3DPOOL pool, IDirect3DTexture9** texture,
                              HANDLE*) {
    if (texture == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *texture = nullptr;
    const FormatInfo* format = findFormat(formatCode);
    const bool renderTarget = (usage & D3DUSAGE_RENDERTARGET) != 0;
    const bool dynamic = (usage & D3DUSAGE_DYNAMIC) != 0;
    if (format == nullptr || formatCode == D3DFMT_D24S8 || width == 0 || height == 0 ||
        (usage & ~(D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC)) != 0 || pool == D3DPOOL_SCRATCH ||
        (renderTarget && pool != D3DPOOL_DEFAULT) || (renderTarget && !format->colorRenderable) ||
        (dynamic && pool == D3DPOOL_MANAGED) || levels > fullChainLength(width, height, 1)) {
        return D3DERR_INVALIDCALL;
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
    if (texture == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *texture = nullptr;
    const FormatInfo* format = findFormat(formatCode);
    if (format == nullptr || formatCode == D3DFMT_D24S8 || width == 0 || height == 0 ||
        depth == 0 || (usage & ~D3DUSAGE_DYNAMIC) != 0 || pool == D3DPOOL_SCRATCH ||
        ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) ||
        levels > fullChainLength(width, height, depth)) {
        return D3DERR_INVALIDCALL;
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

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE*) {
    if (buffer == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *buffer = nullptr;
    if (length == 0 || pool == D3DPOOL_SCRATCH ||
        ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED)) {
        return D3DERR_INVALIDCALL;
    }
    *buffer = new VertexBuffer(this, length, usage, fvf, pool);
    return S_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE*) {
    if (buffer == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *buffer = nullptr;
    if (length == 0 || pool == D3DPOOL_SCRATCH ||
        (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) ||
        ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED)) {
        return D3DERR_INVALIDCALL;
    }
    *buffer = new IndexBuffer(this, length, usage, format, pool);
    return S_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        IDirect3DVertexDeclaration9** declaration) {
    if (elements == nullptr || declaration == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *declaration = nullptr;
    std::vector<D3DVERTEXELEMENT9> list;
    for (int i = 0;; ++i) {
        if (i == MAXD3DDECLLENGTH) {
            return D3DERR_INVALIDCALL;
        }
        const D3DVERTEXELEMENT9& element = elements[i];
        if (element.Stream == 0xFF) {
            break;
        }
        AttributeFormat format{};
        if (element.Stream >= kStreams || element.Method != D3DDECLMETHOD_DEFAULT ||
            !attributeFormat(element.Type, &format)) {
            return D3DERR_INVALIDCALL;
        }
        list.push_back(element);
    }
    *declaration = new VertexDeclaration(this, std::move(list));
    return S_OK;
}

} // namespace d3d9gl
