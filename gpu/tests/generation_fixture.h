// Starts the program headless once per test process (engine, device, every GPU resource) and
// offers what the generation tests compare: a block's triangles as the CPU and the GPU paths
// leave them.
#pragma once

#include "terrain/terrain_state.h"

#include <array>
#include <utility>
#include <vector>

namespace gorvane::test {

// Opens the engine headless on `width` x `height` with the data directory and runs start-up.
// Returns false (and fails the test) when that does not work.
bool startProgramHeadless(int width = 64, int height = 64);

using Triangle = std::array<std::array<float, 3>, 3>;

// The triangles buildBlockOnCpu left in `slot`'s staging buffers.
std::vector<Triangle> stagedTriangles(int slot);
// The triangles of a block mesh (null: none).
std::vector<Triangle> meshTriangles(ID3DXMesh* mesh);

// Whether both lists hold the same triangles, each matched once, vertex by vertex within
// `tolerance` and in the same cyclic order (so the same winding), in any order of triangles.
// On a mismatch `why` says which triangle of `a` found no partner.
bool sameTriangleSets(const std::vector<Triangle>& a, const std::vector<Triangle>& b,
                      float tolerance, std::string* why);

// Runs the GPU pass for one block in `mode` on `slot` and returns its triangle count.
std::int32_t generateIn(CalculationModeValue mode, BlockJob job);

// Runs the block worker over the one block on this thread, as a tower builds it, and returns
// the block's vertex and triangle counts.
std::pair<std::int32_t, std::int32_t> workBlock(CalculationModeValue mode, BlockJob job);

} // namespace gorvane::test
