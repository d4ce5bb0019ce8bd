#include "refusal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace d3d9gl {

namespace {

thread_local Refusal lastCause = Refusal::None;

constexpr const char* reasons[] = {"",
#define D3D9GL_REFUSAL_REASON(name, reason) reason,
                                   D3D9GL_REFUSALS(D3D9GL_REFUSAL_REASON)
#undef D3D9GL_REFUSAL_REASON
};

} // namespace

const char* refusalReason(Refusal cause) {
    return reasons[static_cast<int>(cause)];
}

HRESULT refuse(const char* call, Refusal cause) {
    lastCause = cause;
    const char* debug = std::getenv("GORVANE_D3D_DEBUG");
    if (debug != nullptr && std::strcmp(debug, "1") == 0) {
        std::fprintf(stderr, "d3d9: %s refused: %s\n", call, refusalReason(cause));
    }
    return D3DERR_INVALIDCALL;
}

Refusal takeLastRefusal() {
    const Refusal cause = lastCause;
    lastCause = Refusal::None;
    return cause;
}

} // namespace d3d9gl
