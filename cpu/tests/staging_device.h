// A headless Direct3D device with the two workers' staging buffers, for the CPU mesher's tests
// and benchmarks.
#pragma once

#include "platform/d3d9/gl_device.h"
#include "terrain/terrain_state.h"

#include <cstdio>
#include <cstdlib>

inline IDirect3DDevice9* stagingDevice = nullptr;

inline void createStagingBuffers() {
    if (FAILED(d3d9gl::createHeadlessDevice(64, 64, &stagingDevice))) {
        std::fprintf(stderr, "no headless Direct3D device\n");
        std::abort();
    }
    for (StagingBuffers& staging : WorkerStagingBuffers) {
        if (FAILED(stagingDevice->CreateVertexBuffer(stagingVertexBufferBytes, D3DUSAGE_DYNAMIC, 0,
                                                     D3DPOOL_SYSTEMMEM, &staging.vertices,
                                                     nullptr)) ||
            FAILED(stagingDevice->CreateIndexBuffer(stagingIndexBufferBytes, D3DUSAGE_DYNAMIC,
                                                    D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM,
                                                    &staging.indices, nullptr))) {
            std::fprintf(stderr, "cannot create the staging buffers\n");
            std::abort();
        }
    }
}

inline void releaseStagingBuffers() {
    for (StagingBuffers& staging : WorkerStagingBuffers) {
        staging.vertices->Release();
        staging.indices->Release();
        staging = {};
    }
    stagingDevice->Release();
    stagingDevice = nullptr;
}
