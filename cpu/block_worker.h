// The block worker: the thread routine that tower creation starts twice, one per BlockRange.
// For every block of its range it runs the GPU block pass and then finishes the block in the
// calculation mode that pass used: a CPU mesh with smooth normals, the GPU mesh as it is, or
// the GPU mesh welded on the CPU.
#pragma once

#include "platform/win32/windows.h"
#include "terrain/terrain_state.h"

// `range` points to a BlockRange that stays valid until the routine returns. Always returns 0.
DWORD blockWorker(LPVOID range);
