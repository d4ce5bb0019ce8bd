#include "refusal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace d3d9gl {

HRESULT refuse(const char* call, const char* reason) {
    const char* debug = std::getenv("GORVANE_D3D_DEBUG");
    if (debug != nullptr && std::strcmp(debug, "1") == 0) {
        std::fprintf(stderr, "d3d9: %s refused: %s\n", call, reason);
    }
    return D3DERR_INVALIDCALL;
}

} // namespace d3d9gl
