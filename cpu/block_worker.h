// The block worker: the thread routine that tower creation starts twice, one per BlockRange.
// For every block of its range it runs the GPU block pass and then finishes the block in the
// calculation mode that pass used: a CPU mesh with smooth normals, the GPU mesh as it is, or
// the GPU mesh welded on the CPU.
//
// Only the GPU pass runs under the GenerationLock, and the swap of a block's mesh under
// BlockPublishLock; the mesh is built and filled before the swap, so a frame drawn meanwhile
// sees the old mesh or the whole new one, never one being released or filled.
#pragma once

#include "platform/win32/windows.h"
#include "terrain/terrain_state.h"

// `range` points to a BlockRange that stays valid until the routine returns. Always returns 0.
DWORD blockWorker(LPVOID range);
