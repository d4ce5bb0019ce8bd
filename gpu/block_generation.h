// The GPU block pass: one BlockJob turned, under the GenerationLock, into the block's density
// field, cell classification and triangle count, and in the GPU modes into its mesh; in the
// CPU mode the density and classification are copied into the job slot's readbacks.
#pragma once

#include "terrain/terrain_state.h"

#include <cstdint>

// The block's place in the noise field ("g_pos"): ((x - 4) - 0.25) * 0.5 on each axis, w 0.
struct BlockPosition {
    float x, y, z, w;
};
BlockPosition blockPosition(int x, int y, int z);

// Where the time of the last pass went, in milliseconds of wall-clock time (for benchmarks
// and the tower statistics; the engine timer keeps the Part's own figures).
struct GpuPassTimes {
    double density;
    double cubes;
    double pyramid;
    double vertices; // createVertex and createVertexNormal
    double readbacks;
};

// Runs the pass for `job` on the calling thread (a worker, with its own GL context). Blocks on
// the GenerationLock until no other pass or progress frame holds it. When `times` is given,
// it receives the durations of this call's stages.
void generateBlockOnGpu(BlockJob job, GpuPassTimes* times = nullptr);

// The density stage of block (x, y, z) alone, over the current noise volume, read back into
// `destination` (holds densityFloatsPerSlot floats, in the DensityReadback layout). Takes the
// GenerationLock; leaves the counts, statistics, slots and meshes as they are. False when the
// generation effect is absent or the read-back failed.
bool renderBlockDensity(int x, int y, int z, float* destination);

// The mode the last pass on `slot` ran in, for the worker to finish the block in that mode.
extern std::atomic<std::int32_t> SlotCalculationModes[workerCount];
