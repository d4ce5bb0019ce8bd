// Calls that fail on purpose. The layer's calls otherwise fail only on bad arguments, while a
// real driver also fails creations, copies and locks under memory pressure; this is how tests
// reach a program's paths for those failures.
//
// The switch is "fail the N-th call of entry point NAME from now on", set by a test with
// failNthCall or, for a whole run, by the environment variable
// GORVANE_D3D_FAIL="NAME:N[,NAME:N...]" (read at the first call the layer counts). The call that
// fails does nothing and returns E_OUTOFMEMORY; it leaves a result pointer null. Names are the
// Direct3D and D3DX names: CreateTexture, CreateVertexBuffer, CreateIndexBuffer,
// CreateVertexDeclaration, GetRenderTargetData, LockRect (of textures and their surfaces),
// D3DXCreateMesh, D3DXCreateMeshFVF.
#pragma once

#include "d3d9.h"

namespace d3d9gl {

// Calls of `name` from any thread are counted from now; the `nth` of them (1: the next) fails.
// Replaces an earlier setting for `name`; `nth` 0 removes it.
void failNthCall(const char* name, int nth);

// Removes every setting.
void clearCallFailures();

// For the layer's entry points: counts this call of `name` and says whether it is to fail.
bool injectedFailure(const char* name);

} // namespace d3d9gl
