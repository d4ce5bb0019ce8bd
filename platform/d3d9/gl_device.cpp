// The free functions of gl_device.h, over the layer's Device (gl_internal.h).
#include "gl_internal.h"
#include "refusal.h"

#include <cstdio>

namespace d3d9gl {

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
        return refuse("createHeadlessDevice",
                      device == nullptr ? Refusal::NoDevicePointer : Refusal::ZeroSize);
    }
    *device = nullptr;
    std::string failure;
    auto pool = ContextPool::createHeadless(&failure);
    return finishCreation(std::move(pool), failure, width, height, device);
}

HRESULT createWindowedDevice(GLFWwindow* window, UINT width, UINT height,
                             IDirect3DDevice9** device) {
    if (window == nullptr || device == nullptr || width == 0 || height == 0) {
        return refuse("createWindowedDevice", window == nullptr   ? Refusal::NoWindow
                                              : device == nullptr ? Refusal::NoDevicePointer
                                                                  : Refusal::ZeroSize);
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

void deleteProgram(IDirect3DDevice9* device, GLuint program) {
    asDevice(device)->deleteProgram(program);
}

GLuint textureName(IDirect3DBaseTexture9* texture) {
    const TextureCore* core = textureCore(texture);
    return core != nullptr ? core->glName() : 0;
}

GLenum textureTarget(IDirect3DBaseTexture9* texture) {
    const TextureCore* core = textureCore(texture);
    return core != nullptr ? core->target() : GL_NONE;
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
