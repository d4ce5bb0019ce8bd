#include "platform/d3d9/gl_device.h"

namespace d3d9gl {

void finishSubmittedWork(IDirect3DDevice9* device) {
    bindThreadContext(device);
    glFinish();
}

} // namespace d3d9gl
