// Refused calls. Direct3D answers a call it refuses with D3DERR_INVALIDCALL and nothing more;
// the layer names the cause of each refusal, and with the environment variable
// GORVANE_D3D_DEBUG=1 prints it on standard error as "d3d9: <call> refused: <reason>", so that
// whoever's call fails learns why.
#pragma once

#include "d3d9.h"

namespace d3d9gl {

// Reports the refusal when GORVANE_D3D_DEBUG=1 and returns D3DERR_INVALIDCALL.
HRESULT refuse(const char* call, const char* reason);

} // namespace d3d9gl
