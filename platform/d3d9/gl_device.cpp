#include "gl_internal.h"

#include <GLFW/glfw3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

Surface* asSurface(IDirect3DSurface9* surface) {
    return static_cast<Surface*>(surface);
}

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

GLenum compareFunction(DWORD value) {
    switch (value) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    case D3DCMP_ALWAYS:
        return GL_ALWAYS;
    default:
        return GL_LEQUAL;
    }
}

GLenum blendFactor(DWORD value) {
    switch (value) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    default:
        return GL_ONE;
    }
}

GLint addressMode(DWORD value) {
    switch (value) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
        return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE:
        return GL_MIRROR_CLAMP_TO_EDGE;
    default:
        return GL_REPEAT;
    }
}

GLint minificationFilter(DWORD minFilter, DWORD mipFilter) {
    const bool linear = minFilter == D3DTEXF_LINEAR || minFilter == D3DTEXF_ANISOTROPIC;
    switch (mipFilter) {
    case D3DTEXF_POINT:
        return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    case D3DTEXF_LINEAR:
        return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    default:
        return linear ? GL_LINEAR : GL_NEAREST;
    }
}

// A primitive type's GL mode and how many vertices (or indices) `n` primitives take:
// n * verticesPerPrimitive + extraVertices.
struct Topology {
    D3DPRIMITIVETYPE type;
    GLenum mode;
    std::uint64_t verticesPerPrimitive;
    std::uint64_t extraVertices;
};

constexpr Topology kTopologies[] = {
    {D3DPT_POINTLIST, GL_POINTS, 1, 0},
    {D3DPT_LINELIST, GL_LINES, 2, 0},
    {D3DPT_LINESTRIP, GL_LINE_STRIP, 1, 1},
    {D3DPT_TRIANGLELIST, GL_TRIANGLES, 3, 0},
    {D3DPT_TRIANGLESTRIP, GL_TRIANGLE_STRIP, 1, 2},
    {D3DPT_TRIANGLEFAN, GL_TRIANGLE_FAN, 1, 2},
};

const Topology* topologyOf(D3DPRIMITIVETYPE type) {
    for (const Topology& topology : kTopologies) {
        if (topology.type == type) {
            return &topology;
        }
    }
    return nullptr;
}

struct AttributeFormat {
    GLint size;
    GLenum type;
    GLboolean normalized;
    UINT bytes;
};

bool attributeFormat(BYTE type, AttributeFormat* format) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4: {
        const GLint count = type - D3DDECLTYPE_FLOAT1 + 1;
        *format = {count, GL_FLOAT, GL_FALSE, static_cast<UINT>(count) * 4};
        return true;
    }
    case D3DDECLTYPE_D3DCOLOR:
        *format = {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4};
        return true;
    case D3DDECLTYPE_UBYTE4:
        *format = {4, GL_UNSIGNED_BYTE, GL_FALSE, 4};
        return true;
    default:
        return false;
    }
}

// Pack state for reading a whole level into packed rows, set fully because other layers issue
// their own GL calls on the same contexts.
struct PackState {
    PackState() {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_IMAGE_HEIGHT, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
        glPixelStorei(GL_PACK_SKIP_IMAGES, 0);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
    }
    ~PackState() { glPixelStorei(GL_PACK_ALIGNMENT, 4); }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------------------------
Device::Device(std::shared_ptr<ContextPool> pool, UINT width, UINT height)
    : pool_(std::move(pool)), width_(width), height_(height) {}

HRESULT Device::initialise() {
    std::lock_guard lock(mutex_);
    pool_->bind();
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major * 10 + minor < 45) {
        return D3DERR_NOTAVAILABLE;
    }
    renderer_ = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    backBuffer_ = new Texture(this, *findFormat(D3DFMT_A8R8G8B8), width_, height_, 1,
                              D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, true);
    depthBuffer_ = new Texture(this, *findFormat(D3DFMT_D24S8), width_, height_, 1,
                               D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, true);
    backBuffer_->createGl();
    depthBuffer_->createGl();
    setDefaultState();
    clearImplicitSurfaces();
    pool_->publish();
    return S_OK;
}

void Device::clearImplicitSurfaces() {
    const std::uint32_t black = 0;
    glClearTexImage(backBuffer_->glName(), 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &black);
    const std::uint32_t farthest = 0xFFFFFF00u; // depth 1.0 in the upper 24 bits, stencil 0
    glClearTexImage(depthBuffer_->glName(), 0, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, &farthest);
}

Device::~Device() {
    {
        std::lock_guard lock(mutex_);
        pool_->bind();
        unbindAll();
        if (backBuffer_ != nullptr) {
            backBuffer_->Release();
        }
        if (depthBuffer_ != nullptr) {
            depthBuffer_->Release();
        }
    }
    pool_->shutdown();
    pool_->giveBackThisThread();
    pool_.reset();
}

ULONG Device::AddRef() {
    return refs_.fetch_add(1) + 1;
}

ULONG Device::Release() {
    const ULONG remaining = refs_.fetch_sub(1) - 1;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

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

void Device::registerSurvivor(TextureCore* texture) {
    std::lock_guard lock(registryMutex_);
    survivingTextures_.insert(texture);
}

void Device::unregisterSurvivor(TextureCore* texture) {
    std::lock_guard lock(registryMutex_);
    survivingTextures_.erase(texture);
}

void Device::registerSurvivor(BufferCore* buffer) {
    std::lock_guard lock(registryMutex_);
    survivingBuffers_.insert(buffer);
}

void Device::unregisterSurvivor(BufferCore* buffer) {
    std::lock_guard lock(registryMutex_);
    survivingBuffers_.erase(buffer);
}

HRESULT Device::reset() {
    std::lock_guard lock(mutex_);
    if (liveDefault_.load() != 0) {
        return D3DERR_INVALIDCALL;
    }
    pool_->bind();
    // A lost device loses every GL object: bound leftovers go with the state, managed
    // resources come back from their system copies, the implicit surfaces come back empty.
    setDefaultState();
    {
        std::lock_guard registry(registryMutex_);
        for (TextureCore* texture : survivingTextures_) {
            texture->recreateGl();
        }
        for (BufferCore* buffer : survivingBuffers_) {
            buffer->forgetGl();
        }
    }
    backBuffer_->recreateGl();
    depthBuffer_->recreateGl();
    clearImplicitSurfaces();
    pool_->publish();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------------------------
HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (surface == nullptr || index > 3) {
        return D3DERR_INVALIDCALL;
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
    if (index != 0 || surface == nullptr ||
        (asSurface(surface)->texture()->usage() & D3DUSAGE_RENDERTARGET) == 0) {
        return D3DERR_INVALIDCALL;
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
        return D3DERR_INVALIDCALL;
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
        return D3DERR_INVALIDCALL;
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
        return D3DERR_INVALIDCALL;
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
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    renderStates_[state] = value;
    return S_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (state >= kRenderStates || value == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    *value = renderStates_[state];
    return S_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= kStages) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    rebind(textures_[stage], texture);
    return S_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (stage >= kStages || texture == nullptr) {
        return D3DERR_INVALIDCALL;
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
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    samplerStates_[sampler][type] = value;
    return S_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (sampler >= kStages || type >= kSamplerStates || value == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    *value = samplerStates_[sampler][type];
    return S_OK;
}

void Device::setProgram(GLuint program) {
    std::lock_guard lock(mutex_);
    program_ = program;
}

GLuint Device::program() {
    std::lock_guard lock(mutex_);
    return program_;
}

// ---------------------------------------------------------------------------------------------
// Applying the state to the calling thread's context
// ---------------------------------------------------------------------------------------------
bool Device::attach(ContextState& context, Surface* color, Surface* depth) {
    TextureCore& colorTexture = *color->texture();
    const auto level = static_cast<GLint>(color->level());
    const TextureCore::Level& size = colorTexture.level(color->level());
    if (depth != nullptr) {
        // Direct3D 9 needs a depth surface at least as large as the render target; GL would
        // silently draw only where both overlap.
        const TextureCore::Level& depthSize = depth->texture()->level(depth->level());
        if (depthSize.width < size.width || depthSize.height < size.height) {
            return false;
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
    return context.framebufferComplete;
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
    const char* debug = std::getenv("GORVANE_GL_DEBUG");
    if (debug != nullptr && std::strcmp(debug, "abort") == 0) {
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
    const GLint pixelOffset = glGetUniformLocation(program_, "d3d9_pixelOffset");
    if (pixelOffset >= 0) {
        const TextureCore::Level& size = renderTarget_->texture()->level(renderTarget_->level());
        glProgramUniform2f(program_, pixelOffset, 1.0f / static_cast<float>(size.width),
                           -1.0f / static_cast<float>(size.height));
    }
    for (int stage = 0; stage < kStages; ++stage) {
        const TextureCore* texture = textureCore(textures_[stage]);
        const auto unit = static_cast<GLuint>(stage);
        if (texture != nullptr && texture->hasGl()) {
            glBindTextureUnit(unit, texture->glName());
            glBindSampler(unit, samplerFor(context, stage));
        } else {
            glBindTextureUnit(unit, 0);
            glBindSampler(unit, 0);
        }
    }
}

HRESULT Device::draw(D3DPRIMITIVETYPE type, UINT primitives, const DrawRange& range) {
    const Topology* topology = topologyOf(type);
    if (topology == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const GLenum mode = topology->mode;
    const std::uint64_t count =
        std::uint64_t{primitives} * topology->verticesPerPrimitive + topology->extraVertices;
    if (primitives == 0) {
        return D3DERR_INVALIDCALL;
    }
    // The vertices the draw reads: the drawn run, or the range an indexed draw names.
    const std::int64_t firstVertex =
        range.indexed ? std::int64_t{range.baseVertex} + range.minVertex : range.first;
    const std::uint64_t vertexCount = range.indexed ? range.vertices : count;
    if (firstVertex < 0 || vertexCount == 0) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    if (program_ == 0 || declaration_ == nullptr || (range.indexed && indices_ == nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    const std::uint64_t lastVertex = static_cast<std::uint64_t>(firstVertex) + vertexCount - 1;
    for (const D3DVERTEXELEMENT9& element : declaration_->elements()) {
        const Stream& stream = streams_[element.Stream];
        AttributeFormat format{};
        attributeFormat(element.Type, &format);
        if (stream.buffer == nullptr ||
            stream.offset + lastVertex * stream.stride + element.Offset + format.bytes >
                stream.buffer->size()) {
            return D3DERR_INVALIDCALL;
        }
    }
    const UINT indexSize = range.indexed && indices_->format() == D3DFMT_INDEX32 ? 4 : 2;
    if (range.indexed && (std::uint64_t{range.first} + count) * indexSize > indices_->size()) {
        return D3DERR_INVALIDCALL;
    }
    ContextState& context = pool_->bind();
    separateFromQueuedReads(*renderTarget_->texture());
    bool uploaded = false;
    if (!attach(context, renderTarget_, depthSurface_) ||
        !applyVertexInput(context, range.indexed, &uploaded)) {
        return D3DERR_INVALIDCALL;
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
    if ((count != 0 && rects == nullptr) ||
        (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    if (depthOrStencil && depthSurface_ == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    ContextState& context = pool_->bind();
    Surface* depth = depthOrStencil ? depthSurface_ : nullptr;
    if ((flags & D3DCLEAR_TARGET) != 0) {
        separateFromQueuedReads(*renderTarget_->texture());
    }
    if (!attach(context, renderTarget_, depth)) {
        return D3DERR_INVALIDCALL;
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

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget,
                                    IDirect3DSurface9* destination) {
    if (renderTarget == nullptr || destination == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    Surface* source = asSurface(renderTarget);
    Surface* target = asSurface(destination);
    TextureCore& from = *source->texture();
    TextureCore& to = *target->texture();
    const TextureCore::Level& fromLevel = from.level(source->level());
    const TextureCore::Level& toLevel = to.level(target->level());
    if ((from.usage() & D3DUSAGE_RENDERTARGET) == 0 || to.pool() != D3DPOOL_SYSTEMMEM ||
        from.format().format != to.format().format || fromLevel.width != toLevel.width ||
        fromLevel.height != toLevel.height || to.isLocked(target->level())) {
        return D3DERR_INVALIDCALL;
    }
    std::lock_guard lock(mutex_);
    pool_->bind();
    checkPublished(&from, "a render target read back");
    const PackState pack;
    const FormatInfo& format = from.format();
    glGetTextureSubImage(from.glName(), static_cast<GLint>(source->level()), 0, 0, 0,
                         static_cast<GLsizei>(fromLevel.width),
                         static_cast<GLsizei>(fromLevel.height), 1, format.transferFormat,
                         format.transferType, static_cast<GLsizei>(toLevel.slicePitch),
                         to.levelBits(target->level()));
    pool_->endBatch(); // what this context drew is complete now: tell the others
    return S_OK;
}

void Device::uploadTexture(TextureCore& texture, UINT level, const Box& box) {
    std::lock_guard lock(mutex_);
    pool_->bind();
    separateFromQueuedReads(texture);
    texture.upload(level, box);
    pool_->publish();
}

void Device::bindBackBufferForDrawing() {
    std::lock_guard lock(mutex_);
    ContextState& context = pool_->bind();
    separateFromQueuedReads(*backBuffer_);
    Surface* color = backBuffer_->surface(0);
    Surface* depth = depthBuffer_->surface(0);
    if (attach(context, color, depth)) {
        checkPublished(backBuffer_, "the back buffer");
        noteWrites(color, depth);
    }
}

HRESULT Device::readBackBuffer(std::vector<std::uint8_t>& rgba) {
    std::lock_guard lock(mutex_);
    pool_->bind();
    checkPublished(backBuffer_, "the back buffer");
    rgba.resize(std::size_t{width_} * height_ * 4);
    const PackState pack;
    glGetTextureImage(backBuffer_->glName(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                      static_cast<GLsizei>(rgba.size()), rgba.data());
    pool_->endBatch();
    return S_OK;
}

void Device::present() {
    GLFWwindow* window = pool_->window();
    if (window == nullptr || !pool_->isWindowThread()) {
        return;
    }
    std::lock_guard lock(mutex_);
    ContextState& context = pool_->bind();
    checkPublished(backBuffer_, "the back buffer");
    attach(context, backBuffer_->surface(0), nullptr);
    int windowWidth = 0, windowHeight = 0;
    glfwGetFramebufferSize(window, &windowWidth, &windowHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, context.framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    const bool sameSize =
        static_cast<UINT>(windowWidth) == width_ && static_cast<UINT>(windowHeight) == height_;
    // Row 0 of the back buffer is the top of the picture; the window's row 0 is its bottom.
    glBlitFramebuffer(0, 0, static_cast<GLint>(width_), static_cast<GLint>(height_), 0,
                      windowHeight, windowWidth, 0, GL_COLOR_BUFFER_BIT,
                      sameSize ? GL_NEAREST : GL_LINEAR);
    glfwSwapBuffers(window);
    pool_->endBatch();
}

// ---------------------------------------------------------------------------------------------
// gl_device.h
// ---------------------------------------------------------------------------------------------
namespace {

Device* asDevice(IDirect3DDevice9* device) {
    return static_cast<Device*>(device);
}

HRESULT finishCreation(std::shared_ptr<ContextPool> pool, const std::string& failure, UINT width,
                       UINT height, IDirect3DDevice9** device) {
    if (pool == nullptr) {
        std::fprintf(stderr, "d3d9gl: %s\n", failure.c_str());
        return D3DERR_NOTAVAILABLE;
    }
    auto* created = new Device(std::move(pool), width, height);
    const HRESULT result = created->initialise();
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *device = created;
    return S_OK;
}

} // namespace

HRESULT createHeadlessDevice(UINT width, UINT height, IDirect3DDevice9** device) {
    if (device == nullptr || width == 0 || height == 0) {
        return D3DERR_INVALIDCALL;
    }
    *device = nullptr;
    std::string failure;
    auto pool = ContextPool::createHeadless(&failure);
    return finishCreation(std::move(pool), failure, width, height, device);
}

HRESULT createWindowedDevice(GLFWwindow* window, UINT width, UINT height,
                             IDirect3DDevice9** device) {
    if (window == nullptr || device == nullptr || width == 0 || height == 0) {
        return D3DERR_INVALIDCALL;
    }
    *device = nullptr;
    std::string failure;
    // Two workers and a spare beside the main thread.
    auto pool = ContextPool::createWindowed(window, 3, &failure);
    return finishCreation(std::move(pool), failure, width, height, device);
}

const char* rendererName(IDirect3DDevice9* device) {
    return asDevice(device)->renderer().c_str();
}

void bindThreadContext(IDirect3DDevice9* device) {
    asDevice(device)->contextPool().bind();
}

void publishWrites(IDirect3DDevice9* device) {
    ContextPool& pool = asDevice(device)->contextPool();
    pool.bind();
    pool.publish();
}

void setProgram(IDirect3DDevice9* device, GLuint program) {
    asDevice(device)->setProgram(program);
}

GLuint currentProgram(IDirect3DDevice9* device) {
    return asDevice(device)->program();
}

GLuint textureName(IDirect3DBaseTexture9* texture) {
    const TextureCore* core = textureCore(texture);
    return core != nullptr ? core->glName() : 0;
}

GLenum textureTarget(IDirect3DBaseTexture9* texture) {
    const TextureCore* core = textureCore(texture);
    return core != nullptr ? core->target() : GL_NONE;
}

int attributeLocation(BYTE usage, BYTE usageIndex) {
    switch (usage) {
    case D3DDECLUSAGE_POSITION:
        return usageIndex == 0 ? static_cast<int>(kPositionLocation) : -1;
    case D3DDECLUSAGE_NORMAL:
        return usageIndex == 0 ? static_cast<int>(kNormalLocation) : -1;
    case D3DDECLUSAGE_TEXCOORD:
        return usageIndex < kMaxTexcoords ? static_cast<int>(kFirstTexcoordLocation) + usageIndex
                                          : -1;
    case D3DDECLUSAGE_COLOR:
        return usageIndex == 0 ? static_cast<int>(kColorLocation) : -1;
    default:
        return -1;
    }
}

void bindBackBufferForDrawing(IDirect3DDevice9* device) {
    asDevice(device)->bindBackBufferForDrawing();
}

HRESULT readBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgbaTopRowFirst) {
    return asDevice(device)->readBackBuffer(rgbaTopRowFirst);
}

void presentToWindow(IDirect3DDevice9* device) {
    asDevice(device)->present();
}

UINT liveDefaultPoolObjects(IDirect3DDevice9* device) {
    return asDevice(device)->liveDefaultPoolObjects();
}

HRESULT resetDevice(IDirect3DDevice9* device) {
    return asDevice(device)->reset();
}

} // namespace d3d9gl
