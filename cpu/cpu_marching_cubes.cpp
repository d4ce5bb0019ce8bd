#include "cpu/cpu_marching_cubes.h"

#include "tables/marching_cubes_tables.h"
#include "terrain/terrain_state.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

// Offsets (dx, dy, dz) of the cube corners, in corner order.
constexpr int cornerOffset[8][3] = {
    {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1},
};

// The highest grid coordinate a corner may read. A coarse cell step reaches past the field's
// last sample; such corners read the last one instead of the next slot's memory.
constexpr int densityGridLast = densityGridSize - 1;

int clampGrid(int g) {
    return std::clamp(g, 0, densityGridLast);
}

// What one block's walk writes, and where it must stop.
struct BlockOutput {
    MeshVertex* vertices;
    std::uint16_t* indices;
    EdgeVertexEntry* cache;
    std::int32_t vertexCount;
    std::int32_t triangleCount;
};

// Finds the vertex that edge `edge` of cell (cx, cy, cz) already has in this block, or -1.
EdgeVertexEntry& edgeEntry(BlockOutput& out, int cx, int cy, int cz, int s, int edge) {
    const std::int32_t* key = EdgeKeys[edge]; // (dz, dx, dy, axis)
    const int lx = cx / s + (key[1] & 0xFF);
    const int ly = cy / s + (key[2] & 0xFF);
    const int lz = cz / s + (key[0] & 0xFF);
    return out.cache[edgeVertexEntryIndex(lx, ly, lz, key[3] & 0xFF)];
}

// Makes the vertex of `edge` where the surface crosses it, in block coordinates.
MeshVertex edgeVertex(const CellCorners& corners, int cx, int cy, int cz, int s, int edge,
                      float cellValue) {
    const int a = EdgeCorners[edge][0];
    const int b = EdgeCorners[edge][1];
    const float da = corners.density[a];
    const float db = corners.density[b];
    const float t = (0.0f - da) / (db - da);
    // The corner offsets are stored (z, y, x), and so is the interpolated point.
    float p[3];
    for (int i = 0; i < 3; ++i) p[i] = CubeCorners[a][i] + t * (CubeCorners[b][i] - CubeCorners[a][i]);
    const float pz = p[0], py = p[1], px = p[2];
    const float step = static_cast<float>(s);

    MeshVertex v{};
    // Cell x stays x, cell z (rows) becomes the vertical y, cell y (slices) becomes z.
    v.position[0] = static_cast<float>(cx) + step * px - 16.0f;
    v.position[1] = static_cast<float>(cz) + step * pz - 16.0f;
    v.position[2] = static_cast<float>(cy) + step * py - 16.0f;
    v.u = cellValue;
    v.v = cellValue;
    return v;
}

// Emits the triangles of one cell. Returns false when a triangle did not fit, which ends the
// block: the triangles before it stay, whole.
bool emitCell(BlockOutput& out, const CellCorners& corners, int cx, int cy, int cz, int s,
              float cellValue) {
    const std::int32_t* row = TriangleTable[corners.caseIndex];
    for (int k = 0; k + 2 < triangleTableRowLength && row[k] != -1; k += 3) {
        EdgeVertexEntry* entries[3];
        int newVertices = 0;
        for (int j = 0; j < 3; ++j) {
            entries[j] = &edgeEntry(out, cx, cy, cz, s, row[k + j]);
            newVertices += entries[j]->vertex == -1;
        }
        const bool indicesFit =
            static_cast<std::int64_t>(out.triangleCount + 1) * 3 <= stagingIndexCapacity;
        if (!indicesFit || out.vertexCount + newVertices > cpuBlockVertexLimit) return false;

        std::uint16_t* triangle = out.indices + static_cast<std::ptrdiff_t>(out.triangleCount) * 3;
        for (int j = 0; j < 3; ++j) {
            EdgeVertexEntry& entry = *entries[j];
            if (entry.vertex != -1) {
                // A running half-average over the cells that share the vertex, in walk order.
                MeshVertex& shared = out.vertices[entry.vertex];
                shared.u = (shared.u + cellValue) * 0.5f;
                shared.v = shared.u;
            } else {
                entry.vertex = out.vertexCount++;
                entry.value = cellValue;
                out.vertices[entry.vertex] = edgeVertex(corners, cx, cy, cz, s, row[k + j], cellValue);
            }
            triangle[j] = static_cast<std::uint16_t>(entry.vertex);
        }
        ++out.triangleCount;
    }
    return true;
}

// Cells of the slot's current block that the surface crosses (case neither 0 nor 255): bit kz of
// entry [kx][ky] stands for cell (kx, ky, kz) in cell steps. Found in one pass over the density
// rows in memory order, so the walk below touches only crossed cells; walking every cell in its
// x, y, z order would stride 16 KiB between neighbours and miss the cache on every corner.
// Bit i set when row[i] > 0 (NaN not), for i = 0..32: the common cell step's lattice row.
std::uint64_t insideBits33(const float* row) {
    std::uint64_t bits = 0;
#if defined(__SSE2__)
    const __m128 zero = _mm_setzero_ps();
    for (int i = 0; i < 32; i += 4)
        bits |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(row + i), zero)))
                << i;
#else
    for (int i = 0; i < 32; ++i) bits |= static_cast<std::uint64_t>(row[i] > 0.0f) << i;
#endif
    return bits | static_cast<std::uint64_t>(row[32] > 0.0f) << 32;
}

using CrossedCells = std::uint32_t[blockCellsPerAxis][blockCellsPerAxis];
CrossedCells crossedCellsOfSlot[workerCount];

void findCrossedCells(int slot, int s, int cellsPerAxis, CrossedCells& crossed) {
    const float* density = DensityReadback[slot];
    // Bit kx of inside[kz][ky]: the lattice point (kx, ky, kz) lies inside.
    std::uint64_t inside[edgeLatticeSize][edgeLatticeSize];
    for (int kz = 0; kz <= cellsPerAxis; ++kz) {
        const int gz = clampGrid(densityCellOrigin + kz * s);
        for (int ky = 0; ky <= cellsPerAxis; ++ky) {
            const float* row = density + densitySampleIndex(0, clampGrid(densityCellOrigin + ky * s), gz);
            std::uint64_t bits = 0;
            if (s == 1) {
                bits = insideBits33(row + densityCellOrigin);
            } else {
                for (int kx = 0; kx <= cellsPerAxis; ++kx)
                    bits |= static_cast<std::uint64_t>(
                                row[clampGrid(densityCellOrigin + kx * s)] > 0.0f)
                            << kx;
            }
            inside[kz][ky] = bits;
        }
    }
    std::memset(crossed, 0, sizeof(crossed));
    const std::uint64_t cellBits = (std::uint64_t{1} << cellsPerAxis) - 1;
    for (int kz = 0; kz < cellsPerAxis; ++kz) {
        for (int ky = 0; ky < cellsPerAxis; ++ky) {
            // The eight corners of all cells of this row at once: bit kx of each word is corner
            // k of cell kx.
            const std::uint64_t corners[4] = {inside[kz][ky], inside[kz][ky + 1],
                                              inside[kz + 1][ky], inside[kz + 1][ky + 1]};
            std::uint64_t any = 0, all = ~std::uint64_t{0};
            for (std::uint64_t c : corners) {
                any |= c | (c >> 1);
                all &= c & (c >> 1);
            }
            for (std::uint64_t cells = any & ~all & cellBits; cells; cells &= cells - 1)
                crossed[std::countr_zero(cells)][ky] |= 1u << kz;
        }
    }
}

void walkCells(BlockOutput& out, int slot, int s) {
    const int cellsPerAxis = (blockCellsPerAxis + s - 1) / s;
    CrossedCells& crossed = crossedCellsOfSlot[slot];
    findCrossedCells(slot, s, cellsPerAxis, crossed);
    const std::uint8_t* cube = CubeReadback[slot];
    for (int kx = 0; kx < cellsPerAxis; ++kx) {
        for (int ky = 0; ky < cellsPerAxis; ++ky) {
            for (std::uint32_t cells = crossed[kx][ky]; cells; cells &= cells - 1) {
                const int cx = kx * s, cy = ky * s, cz = std::countr_zero(cells) * s;
                const CellCorners corners = sampleCellCorners(slot, cx, cy, cz, s);
                const float cellValue = cube[cubeTexelIndex(cx, cy, cz) * 4 + 1] / 255.0f;
                if (!emitCell(out, corners, cx, cy, cz, s, cellValue)) return;
            }
        }
    }
}

} // namespace

CellCorners sampleCellCorners(int slot, int cx, int cy, int cz, int s) {
    // Grid coordinates of the cell's low and high corners on each axis.
    const int gx[2] = {clampGrid(cx + densityCellOrigin), clampGrid(cx + s + densityCellOrigin)};
    const int gy[2] = {clampGrid(cy + densityCellOrigin), clampGrid(cy + s + densityCellOrigin)};
    const int gz[2] = {clampGrid(cz + densityCellOrigin), clampGrid(cz + s + densityCellOrigin)};
    const float* density = DensityReadback[slot];
    CellCorners corners{};
    for (int k = 0; k < 8; ++k) {
        corners.density[k] = density[densitySampleIndex(
            gx[cornerOffset[k][0]], gy[cornerOffset[k][1]], gz[cornerOffset[k][2]])];
        // NaN compares false, so it counts as outside like 0.0 does.
        if (corners.density[k] > 0.0f) corners.caseIndex |= static_cast<std::uint8_t>(1u << k);
    }
    return corners;
}

void buildBlockOnCpu(std::int32_t lodLevel, std::int32_t slot) {
    // Steps beyond one cell per block make no sense; a level outside them meshes nothing
    // rather than stepping by 0 or overflowing.
    const bool stepValid = lodLevel >= 0 && lodLevel <= maxLodLevel;
    const int s = stepValid ? static_cast<int>(std::pow(2.0f, static_cast<float>(lodLevel))) : 0;
    std::memset(EdgeVertexCache[slot], 0xFF, sizeof(EdgeVertexCache[slot]));

    BlockOutput out{};
    out.cache = EdgeVertexCache[slot];
    const StagingBuffers& staging = WorkerStagingBuffers[slot];
    void* vertexData = nullptr;
    void* indexData = nullptr;
    if (stepValid && SUCCEEDED(staging.vertices->Lock(0, 0, &vertexData, D3DLOCK_DISCARD))) {
        if (SUCCEEDED(staging.indices->Lock(0, 0, &indexData, D3DLOCK_DISCARD))) {
            out.vertices = static_cast<MeshVertex*>(vertexData);
            out.indices = static_cast<std::uint16_t*>(indexData);
            walkCells(out, slot, s);
            staging.indices->Unlock();
        }
        staging.vertices->Unlock();
    }
    SlotCpuVertexCounts[slot] = out.vertexCount;
    SlotCpuTriangleCounts[slot] = out.triangleCount;
}
