// The device's life: making it, counting references, the registry of what survives a reset,
// the reset itself and the end.
#include "gl_internal.h"

#include "refusal.h"

namespace d3d9gl {

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
        return refuse("resetDevice", Refusal::DefaultPoolAlive);
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

} // namespace d3d9gl
