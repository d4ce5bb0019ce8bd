// The terrain store: the block grid, the two worker slots with their buffers, the statistics
// counters, the calculation mode and the generation lock. Every piece of state that the
// generation, scheduling and display code shares lives here, in static storage: zero at
// program start, alive until the process ends, never freed as a whole.
//
// Threads: the main thread (frames, key hooks, rendering) and, only while a tower is being
// created, two workers. Each block and each slot belongs to exactly one worker. Values that
// the workers change outside GenerationLock while another thread may read them are atomics;
// everything else is written under GenerationLock (or BlockPublishLock, for a block's mesh) or
// by the slot's own worker.
#pragma once

#include "engine/engine.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windows.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>

struct ID3DXMesh;

// ---------------------------------------------------------------------------------------------
// Block grid
// ---------------------------------------------------------------------------------------------
constexpr int towerBlocksPerAxis = 8;
constexpr int towerBlockCount = towerBlocksPerAxis * towerBlocksPerAxis * towerBlocksPerAxis;

constexpr int blockIndex(int x, int y, int z) {
    return (x * towerBlocksPerAxis + y) * towerBlocksPerAxis + z;
}
static_assert(blockIndex(towerBlocksPerAxis - 1, towerBlocksPerAxis - 1, towerBlocksPerAxis - 1) ==
              towerBlockCount - 1);

// Every block mesh has 16-bit indices, which address at most 65,535 vertices: no path builds a
// larger one (the GPU pass's identity indices, the CPU mesher and the weld all stop there).
constexpr std::int32_t blockMeshVertexLimit = std::numeric_limits<std::uint16_t>::max();
// A block of more vertices than this is announced (announceLargeBlock) before its mesh is built.
constexpr std::int32_t blockVertexWarningCount = 64000;
static_assert(blockVertexWarningCount < blockMeshVertexLimit);

// Vertices and triangles of each block's mesh. A block is drawn only while its triangle count is
// above 0, and then its mesh is valid with that many faces; the vertex count means something
// only then. Workers publish a new mesh by zeroing the triangle count before the old mesh goes
// and setting it only once the new mesh is complete.
extern std::atomic<std::int32_t> BlockVertexCounts[towerBlockCount];
extern std::atomic<std::int32_t> BlockTriangleCounts[towerBlockCount];
extern ID3DXMesh* BlockMeshes[towerBlockCount];

// One block for the GPU pass.
struct BlockJob {
    std::int32_t slot;
    std::int32_t x, y, z;
};

// One worker's share of the tower: blocks [x0, x1) x [y0, y1) x [z0, z1).
struct BlockRange {
    std::int32_t x0, y0, z0;
    std::int32_t x1, y1, z1;
    std::int32_t slot;
};

constexpr int workerCount = 2;
extern BlockRange BlockRanges[workerCount];

// ---------------------------------------------------------------------------------------------
// Worker slots
// ---------------------------------------------------------------------------------------------

// A block's density field: the DensityMap target's 64 rows of 4096 texels, row after row. The
// sample at grid point (gx, gy, gz) is float gz * 4096 + gy * 64 + gx (gx the column inside a
// slice strip, gy the slice, gz the row). The block's cells use grid points 16..48.
constexpr int densityGridSize = 64;
constexpr int densityFloatsPerSlot = densityGridSize * densityGridSize * densityGridSize;
constexpr int densityCellOrigin = 16;

constexpr std::size_t densitySampleIndex(int gx, int gy, int gz) {
    return (static_cast<std::size_t>(gz) * densityGridSize + static_cast<std::size_t>(gy)) *
               densityGridSize +
           static_cast<std::size_t>(gx);
}
static_assert(densitySampleIndex(densityGridSize - 1, densityGridSize - 1, densityGridSize - 1) ==
              densityFloatsPerSlot - 1);

// A block's cell classification: the CubeMap target's 32 rows of 1024 texels of 4 bytes in
// A8R8G8B8 memory order (blue, green, red, alpha). Cell (cx, cy, cz) is texel
// cz * 1024 + cy * 32 + cx; the CPU path reads its green byte.
constexpr int blockCellsPerAxis = 32;
constexpr int cubeTexelsPerSlot = blockCellsPerAxis * blockCellsPerAxis * blockCellsPerAxis;
constexpr int cubeTexelBytes = 4;
constexpr int cubeBytesPerSlot = cubeTexelsPerSlot * cubeTexelBytes;

constexpr std::size_t cubeTexelIndex(int cx, int cy, int cz) {
    return (static_cast<std::size_t>(cz) * blockCellsPerAxis + static_cast<std::size_t>(cy)) *
               blockCellsPerAxis +
           static_cast<std::size_t>(cx);
}
static_assert(cubeTexelIndex(blockCellsPerAxis - 1, blockCellsPerAxis - 1, blockCellsPerAxis - 1) ==
              cubeTexelsPerSlot - 1);
// The block's cells, and the lattice point past its last one, lie inside the density grid.
static_assert(densityCellOrigin + blockCellsPerAxis < densityGridSize);

extern float DensityReadback[workerCount][densityFloatsPerSlot];
extern std::uint8_t CubeReadback[workerCount][cubeBytesPerSlot];

// The vertex of every block mesh and of the CPU staging buffers.
struct MeshVertex {
    float position[3];
    float normal[3];
    float u, v;
};
static_assert(sizeof(MeshVertex) == 32);
static_assert(offsetof(MeshVertex, position) == 0);
static_assert(offsetof(MeshVertex, normal) == 12);
static_assert(offsetof(MeshVertex, u) == 24);

// Grid edges of a block run between lattice points (lx, ly, lz), each 0..32; the CPU mesher
// keeps its per-slot table of the vertices made on them (cpu/cpu_marching_cubes.cpp).
constexpr int edgeLatticeSize = blockCellsPerAxis + 1;

// Staging buffers of the CPU path: room for the 15 vertices one cell can yield for each of 33^3
// cells, and an index buffer of as many bytes (so half as many 16-bit indices).
constexpr UINT mostVerticesPerCell = 15;
constexpr UINT stagingVertexCapacity =
    edgeLatticeSize * edgeLatticeSize * edgeLatticeSize * mostVerticesPerCell;
constexpr UINT stagingVertexBufferBytes = stagingVertexCapacity * sizeof(MeshVertex);
constexpr UINT stagingIndexBufferBytes = stagingVertexCapacity;
constexpr UINT stagingIndexCapacity = stagingIndexBufferBytes / sizeof(std::uint16_t);

struct StagingBuffers {
    IDirect3DVertexBuffer9* vertices;
    IDirect3DIndexBuffer9* indices;
};
extern StagingBuffers WorkerStagingBuffers[workerCount];

// GPU triangle total of the slot's current block, and what the CPU marching cubes wrote.
extern std::int32_t SlotTriangleCounts[workerCount];
extern std::int32_t SlotCpuVertexCounts[workerCount];
extern std::int32_t SlotCpuTriangleCounts[workerCount];

// ---------------------------------------------------------------------------------------------
// Calculation mode
// ---------------------------------------------------------------------------------------------
enum CalculationModeValue : std::int32_t {
    CpuMeshGpuDensity = 0,
    GpuOnly = 1,
    GpuVerticesCpuWeld = 2,
};

// Cycled by key M on the main thread, read by the workers when a block starts.
extern std::atomic<std::int32_t> CalculationMode;

// ---------------------------------------------------------------------------------------------
// Statistics (times are EngineNumber microseconds, sums EngineNumber milliseconds)
// ---------------------------------------------------------------------------------------------
extern std::atomic<std::int32_t> vertexCount;
extern std::atomic<std::int32_t> polygonCount;
extern std::atomic<EngineNumber> calculationTime;
extern std::atomic<std::int32_t> startedBlocks;
extern std::atomic<EngineNumber> tBlockMap;
extern std::atomic<EngineNumber> BlockMapMax;
extern std::atomic<EngineNumber> BlockMapSum;
extern std::atomic<EngineNumber> tBlockVertex;
extern std::atomic<EngineNumber> BlockVertexMax;
extern std::atomic<EngineNumber> BlockVertexSum;
extern std::atomic<EngineNumber> maxVertexBlock;

// Wall-clock nanoseconds of the current tower's work, reset with the tower's statistics: the
// GPU block passes (each under the lock) and the workers' CPU work on finished passes (marching
// cubes, normals, mesh building, welding). The engine's timer figures above follow the HUD's
// rules; these say where the tower's time went, for the benchmark and the statistics file.
extern std::atomic<std::int64_t> towerGpuPassNanoseconds;
extern std::atomic<std::int64_t> towerCpuWorkNanoseconds;

// Raises `counter` to `value` if that is larger; safe against a concurrent raise.
void raiseCounter(std::atomic<EngineNumber>& counter, EngineNumber value);

// ---------------------------------------------------------------------------------------------
// Messages of block building (both paths)
// ---------------------------------------------------------------------------------------------

// Shows the "info" box of a block of more than blockVertexWarningCount vertices; nothing for a
// smaller block.
void announceLargeBlock(std::int32_t vertices);

// Shows the "Error" box of a block whose mesh could not be created.
void reportMeshCreationFailure();

// ---------------------------------------------------------------------------------------------
// Locks
// ---------------------------------------------------------------------------------------------

// Serialises the workers' GPU block passes against each other and against the frames drawn
// while a tower is being created. Initialised once, with the graphics resources.
extern CRITICAL_SECTION GenerationLock;

// Held by a worker while it swaps a finished CPU or welded mesh into its block, and by the
// frames drawn while a tower is being created (inside GenerationLock, never the other way
// round). A worker that finished its CPU work so swaps its mesh in without waiting for the
// other worker's GPU pass. Initialised with GenerationLock.
extern CRITICAL_SECTION BlockPublishLock;

// Workers' device work outside GenerationLock: creating, filling and welding a block's mesh up
// to handing it over for publishing. Any number of workers may be inside at once, so their CPU
// work still overlaps. A device loss keeps them out: the device-lost hook waits until none is
// inside and lets none in until the device-reset hook has run, so the lost hook releases every
// default-pool object and nothing it released is used afterwards. Inside, a worker takes no
// lock (the lost hook waits while holding GenerationLock and BlockPublishLock).
class MeshWorkScope {
  public:
    MeshWorkScope();  // waits while the device is lost
    ~MeshWorkScope();
    MeshWorkScope(const MeshWorkScope&) = delete;
    MeshWorkScope& operator=(const MeshWorkScope&) = delete;
};

// For the device hooks, on the main thread: the start of the lost hook waits until no worker is
// inside mesh work and keeps them out; the end of the reset hook lets them in again.
void beginDeviceLoss();
void endDeviceLoss();
// True between the two; read under GenerationLock, which the hooks hold.
bool deviceObjectsReleased();

// A mesh a worker made inside mesh work and publishes under BlockPublishLock, one per slot. The
// device-lost hook releases one still waiting there, and the worker then publishes nothing.
extern ID3DXMesh* SlotUnpublishedMeshes[workerCount];
