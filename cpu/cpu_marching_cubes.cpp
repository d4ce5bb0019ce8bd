#include "cpu/cpu_marching_cubes.h"

#include "tables/marching_cubes_tables.h"
#include "terrain/scoped_lock.h"
#include "terrain/terrain_state.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// Sections:
//   Cell corners     where a cell's eight samples lie in the readback
//   Crossed cells    one pass over the density rows finds the cells the surface crosses
//   Edge vertices    the two lattice planes of edge-vertex numbers a slab of cells shares
//   Walk             the cells in x, y, z order, their triangles and vertices
//   Apron            the cells around the block, for what must see past its faces
//   Entry points

namespace {

// ---------------------------------------------------------------------------------------------
// Cell corners
// ---------------------------------------------------------------------------------------------

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

// The samples of one cell: corner 0 and the distance in floats to the far corner along each
// axis (short of the cell step where the grid ends).
struct CellSamples {
    const float* origin;
    std::ptrdiff_t reach[3];

    float operator[](int corner) const {
        const int* offset = cornerOffset[corner];
        return origin[offset[0] * reach[0] + offset[1] * reach[1] + offset[2] * reach[2]];
    }
};

inline CellSamples cellSamples(const float* density, int cx, int cy, int cz, int s) {
    const int gx = clampGrid(cx + densityCellOrigin), gy = clampGrid(cy + densityCellOrigin),
              gz = clampGrid(cz + densityCellOrigin);
    const std::ptrdiff_t corner0 = static_cast<std::ptrdiff_t>(densitySampleIndex(gx, gy, gz));
    auto reachTo = [corner0](std::size_t farCorner) {
        return static_cast<std::ptrdiff_t>(farCorner) - corner0;
    };
    return {density + corner0,
            {reachTo(densitySampleIndex(clampGrid(cx + s + densityCellOrigin), gy, gz)),
             reachTo(densitySampleIndex(gx, clampGrid(cy + s + densityCellOrigin), gz)),
             reachTo(densitySampleIndex(gx, gy, clampGrid(cz + s + densityCellOrigin)))}};
}

// ---------------------------------------------------------------------------------------------
// Crossed cells
// ---------------------------------------------------------------------------------------------

// Bit kx of [kz][ky]: lattice point (kx, ky, kz), in cell steps, lies inside (density > 0).
using InsidePoints = std::uint64_t[edgeLatticeSize][edgeLatticeSize];
// Bit kz of [kx][ky]: the surface crosses cell (kx, ky, kz), in cell steps (case neither 0
// nor 255). Transposed so the walk, x outermost, finds the crossed cells of a row at once.
using CrossedCells = std::uint32_t[blockCellsPerAxis][blockCellsPerAxis];

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

// Reads the density rows in memory order: walking the cells in their x, y, z order would stride
// 16 KiB between neighbours and miss the cache on every corner.
void findInsidePoints(const float* density, int s, int cellsPerAxis, InsidePoints& inside) {
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
}

void findCrossedCells(const InsidePoints& inside, int cellsPerAxis, CrossedCells& crossed) {
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

// The case index of cell (kx, ky, kz) from its corners' inside bits; the same as comparing the
// eight densities.
unsigned caseIndexOf(const InsidePoints& inside, int kx, int ky, int kz) {
    // Two neighbouring points along x as bits 0 (low x) and 1 (high x); corners 2 and 3, and 6
    // and 7, run the other way round.
    auto pair = [kx](std::uint64_t row) { return static_cast<unsigned>(row >> kx) & 3u; };
    auto reversedPair = [&pair](std::uint64_t row) {
        const unsigned bits = pair(row);
        return (bits >> 1) | (bits & 1u) << 1;
    };
    return pair(inside[kz][ky]) | reversedPair(inside[kz][ky + 1]) << 2 |
           pair(inside[kz + 1][ky]) << 4 | reversedPair(inside[kz + 1][ky + 1]) << 6;
}

// ---------------------------------------------------------------------------------------------
// Edge vertices
// ---------------------------------------------------------------------------------------------

// The cells of one slab (one kx) own or share the grid edges of the two lattice planes
// lx = kx and lx = kx + 1, and a vertex made on plane kx + 1 is met again only by the next
// slab. So two planes of vertex numbers, used in turn, stand for the whole block's edges.
// Entry of lattice point (ly, lz) along `axis` within a plane: (ly * 33 + lz) * 3 + axis.
//
// Instead of clearing a plane when it is taken for the next lattice plane, each plane has the
// first vertex number made since it was taken: an entry below it (or -1, which the block's
// first two planes start from) is left over and means no vertex yet. Clearing would write
// 13 KiB per slab for the few hundred entries a slab uses.
constexpr int planeEdgeCount = edgeLatticeSize * edgeLatticeSize * 3;

struct SlabEdgeVertices {
    std::int32_t vertex[2][planeEdgeCount];
    std::int32_t firstValid[2];
};

constexpr int planeEdgeIndex(int ly, int lz, int axis) {
    return (ly * edgeLatticeSize + lz) * 3 + axis;
}

// Where each cube edge's entry lies relative to its cell's: plane (0 or 1 past the cell's kx)
// and offset within the plane.
struct EdgeSlot {
    int plane;
    int offset;
    std::uint32_t latticeOffset; // from the cell's latticeEdgeBase to the edge's key
    bool fromLowEnd;             // the edge's first corner is its lower lattice end
};

struct EdgeSlots {
    EdgeSlot of[cubeEdgeCount];
};

EdgeSlots edgeSlots() {
    EdgeSlots slots{};
    for (int e = 0; e < cubeEdgeCount; ++e) {
        const std::int32_t* key = EdgeKeys[e]; // (dz, dx, dy, axis)
        const int* first = cornerOffset[EdgeCorners[e][0]];
        slots.of[e] = {key[1], planeEdgeIndex(key[2], key[0], key[3]),
                       latticeEdgeKey(latticePointKey(key[1], key[2], key[0]), key[3]) -
                           latticeEdgeKey(latticePointKey(0, 0, 0), 0),
                       first[0] == key[1] && first[1] == key[2] && first[2] == key[0]};
    }
    return slots;
}

// ---------------------------------------------------------------------------------------------
// Walk
// ---------------------------------------------------------------------------------------------

struct SlotScratch {
    InsidePoints inside;
    CrossedCells crossed;
    SlabEdgeVertices edgeVertices;
};
SlotScratch scratchOfSlot[workerCount];

// The density at the lower and the upper end of a vertex's lattice edge, as its cell read them:
// what the vertex's position in double precision is made from.
struct EdgeSamples {
    float low, high;
};

// What the walk keeps of each vertex: its lattice edge and the edge's samples, side by side so
// that the walk writes one stream of them.
struct VertexEdge {
    std::uint32_t edge;
    EdgeSamples samples;
};

struct SlotLattice {
    VertexEdge vertexEdges[blockMeshVertexLimit];
    std::uint32_t faceCells[stagingIndexCapacity / 3];
};
SlotLattice latticeOfSlot[workerCount];

// What one block's walk writes, and where it must stop.
struct BlockOutput {
    MeshVertex* vertices;
    std::uint16_t* indices;
    VertexEdge* vertexEdges;
    std::uint32_t* faceCells;
    std::int32_t vertexCount;
    std::int32_t triangleCount;
};

// One cell being meshed.
struct Cell {
    int cx, cy, cz; // in grid units
    int s;
    CellSamples samples;
    float value;
    std::int32_t* planes[2];  // the edge vertices of lattice planes kx and kx + 1
    std::int32_t firstValid[2]; // and the first vertex number each plane's entries may hold
    int entry;                // the cell's own entry within a plane: planeEdgeIndex(ky, kz, 0)
    std::uint32_t cellKey;    // latticePointKey(cx, cy, cz)
};

// Where the surface crosses `edge` of cell (cx, cy, cz) of step s, in block coordinates. Returns
// the edge's two samples.
inline EdgeSamples edgeVertexPosition(const CellSamples& samples, int cx, int cy, int cz, int s,
                                      int edge, float* position) {
    const int a = EdgeCorners[edge][0];
    const int b = EdgeCorners[edge][1];
    const float da = samples[a];
    const float db = samples[b];
    const float t = (0.0f - da) / (db - da);
    // The corner offsets are stored (z, y, x), and so is the interpolated point.
    float p[3];
    for (int i = 0; i < 3; ++i) p[i] = CubeCorners[a][i] + t * (CubeCorners[b][i] - CubeCorners[a][i]);
    const float pz = p[0], py = p[1], px = p[2];
    const float step = static_cast<float>(s);
    // Cell x stays x, cell z (rows) becomes the vertical y, cell y (slices) becomes z.
    position[0] = static_cast<float>(cx) + step * px - 16.0f;
    position[1] = static_cast<float>(cz) + step * pz - 16.0f;
    position[2] = static_cast<float>(cy) + step * py - 16.0f;
    return {da, db};
}

// Writes the vertex of `edge` where the surface crosses it, in block coordinates, and returns the
// samples at the edge's lower and upper ends.
EdgeSamples writeEdgeVertex(MeshVertex& v, const Cell& cell, int edge, bool fromLowEnd) {
    const EdgeSamples ends =
        edgeVertexPosition(cell.samples, cell.cx, cell.cy, cell.cz, cell.s, edge, v.position);
    v.normal[0] = v.normal[1] = v.normal[2] = 0.0f;
    v.u = cell.value;
    v.v = cell.value;
    return fromLowEnd ? ends : EdgeSamples{ends.high, ends.low};
}

// Emits the triangles of one cell. Returns false when a triangle did not fit, which ends the
// block: the triangles before it stay, whole.
bool emitCell(BlockOutput& out, const Cell& cell, unsigned caseIndex, const EdgeSlots& slots) {
    const std::int32_t* row = TriangleTable[caseIndex];
    for (int k = 0; k + 2 < triangleTableRowLength && row[k] != -1; k += 3) {
        std::int32_t* entries[3];
        int newVertices = 0;
        for (int j = 0; j < 3; ++j) {
            const EdgeSlot& slot = slots.of[row[k + j]];
            entries[j] = cell.planes[slot.plane] + cell.entry + slot.offset;
            if (*entries[j] < cell.firstValid[slot.plane]) {
                *entries[j] = -1;
                ++newVertices;
            }
        }
        const bool indicesFit =
            static_cast<std::int64_t>(out.triangleCount + 1) * 3 <= stagingIndexCapacity;
        if (!indicesFit || out.vertexCount + newVertices > blockMeshVertexLimit) return false;

        std::uint16_t* triangle = out.indices + static_cast<std::ptrdiff_t>(out.triangleCount) * 3;
        for (int j = 0; j < 3; ++j) {
            std::int32_t& vertex = *entries[j];
            if (vertex != -1) {
                // A running half-average over the cells that share the vertex, in walk order.
                MeshVertex& shared = out.vertices[vertex];
                shared.u = (shared.u + cell.value) * 0.5f;
                shared.v = shared.u;
            } else {
                vertex = out.vertexCount++;
                const EdgeSlot& edge = slots.of[row[k + j]];
                out.vertexEdges[vertex] = {
                    3 * cell.cellKey + edge.latticeOffset,
                    writeEdgeVertex(out.vertices[vertex], cell, row[k + j], edge.fromLowEnd)};
            }
            triangle[j] = static_cast<std::uint16_t>(vertex);
        }
        out.faceCells[out.triangleCount++] = cell.cellKey;
    }
    return true;
}

void walkCells(BlockOutput& out, int slot, int s) {
    const int cellsPerAxis = (blockCellsPerAxis + s - 1) / s;
    SlotScratch& scratch = scratchOfSlot[slot];
    const float* density = DensityReadback[slot];
    findInsidePoints(density, s, cellsPerAxis, scratch.inside);
    findCrossedCells(scratch.inside, cellsPerAxis, scratch.crossed);
    const EdgeSlots slots = edgeSlots();
    const std::uint8_t* cube = CubeReadback[slot];

    SlabEdgeVertices& edges = scratch.edgeVertices;
    std::fill(&edges.vertex[0][0], &edges.vertex[0][0] + 2 * planeEdgeCount, -1);
    edges.firstValid[0] = edges.firstValid[1] = 0;
    for (int kx = 0; kx < cellsPerAxis; ++kx) {
        const int low = kx & 1, high = (kx + 1) & 1;
        if (kx > 0) edges.firstValid[high] = out.vertexCount;
        for (int ky = 0; ky < cellsPerAxis; ++ky) {
            for (std::uint32_t cells = scratch.crossed[kx][ky]; cells; cells &= cells - 1) {
                const int kz = std::countr_zero(cells);
                const int cx = kx * s, cy = ky * s, cz = kz * s;
                const Cell cell{cx,
                                cy,
                                cz,
                                s,
                                cellSamples(density, cx, cy, cz, s),
                                cube[cubeTexelIndex(cx, cy, cz) * 4 + 1] / 255.0f,
                                {edges.vertex[low], edges.vertex[high]},
                                {edges.firstValid[low], edges.firstValid[high]},
                                planeEdgeIndex(ky, kz, 0),
                                latticePointKey(cx, cy, cz)};
                if (!emitCell(out, cell, caseIndexOf(scratch.inside, kx, ky, kz), slots)) return;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Apron
// ---------------------------------------------------------------------------------------------

// Bit lx + 1 of [lz + 1][ly + 1]: lattice point (lx, ly, lz), each -1 .. 33, lies inside.
using ExtendedInsidePoints = std::uint64_t[extendedLatticeSize][extendedLatticeSize];

struct ApronScratch {
    ExtendedInsidePoints inside;
    // The vertex of each lattice edge, or -1; only the entries in `used` are ever set, and they
    // are cleared again after each block.
    std::int32_t vertex[extendedLatticeEdgeCount];
    std::vector<std::uint32_t> used;

    ApronScratch() { std::fill(std::begin(vertex), std::end(vertex), -1); }
};
ApronScratch apronScratchOfSlot[workerCount];

// The sample at lattice point (lx, ly, lz), each -1 .. 33.
float latticeSample(const float* density, int lx, int ly, int lz) {
    return density[densitySampleIndex(lx + densityCellOrigin, ly + densityCellOrigin,
                                      lz + densityCellOrigin)];
}

// The inside bits of the extended lattice: the block's rows from its walk (cell step 1), with
// the two points beyond each end, and the rows around the block whole.
void findExtendedInsidePoints(const float* density, const InsidePoints& block,
                              ExtendedInsidePoints& inside) {
    constexpr int last = blockCellsPerAxis + 1; // lattice 33
    auto insideAt = [density](int lx, int ly, int lz) {
        return static_cast<std::uint64_t>(latticeSample(density, lx, ly, lz) > 0.0f);
    };
    for (int lz = -1; lz <= last; ++lz)
        for (int ly = -1; ly <= last; ++ly) {
            const bool blockRow = ly >= 0 && ly < last && lz >= 0 && lz < last;
            std::uint64_t bits;
            if (blockRow) {
                bits = block[lz][ly] << 1 | insideAt(-1, ly, lz) | insideAt(last, ly, lz) << (last + 1);
            } else {
                const float* row = density + densitySampleIndex(densityCellOrigin - 1, ly + densityCellOrigin,
                                                                lz + densityCellOrigin);
                bits = insideBits33(row) | insideAt(last - 1, ly, lz) << last |
                       insideAt(last, ly, lz) << (last + 1);
            }
            inside[lz + 1][ly + 1] = bits;
        }
}

// Emits the faces of apron cell (cx, cy, cz), whose case is neither 0 nor 255.
void emitApronCell(unsigned caseIndex, int cx, int cy, int cz, ApronScratch& scratch,
                   ExtendedMesh& mesh) {
    const std::uint32_t cellKey = latticePointKey(cx, cy, cz);
    const std::int32_t* row = TriangleTable[caseIndex];
    for (int k = 0; k < triangleTableRowLength && row[k] != -1; ++k) {
        if (k % 3 == 0) mesh.faceCells.push_back(cellKey);
        const std::int32_t* key = EdgeKeys[row[k]]; // (dz, dx, dy, axis)
        const std::uint32_t edge =
            latticeEdgeKey(latticePointKey(cx + key[1], cy + key[2], cz + key[0]), key[3]);
        std::int32_t& vertex = scratch.vertex[edge];
        if (vertex == -1) {
            vertex = static_cast<std::int32_t>(mesh.vertexEdges.size());
            scratch.used.push_back(edge);
            mesh.vertexEdges.push_back(edge);
        }
        mesh.indices.push_back(static_cast<std::uint32_t>(vertex));
    }
}

// The apron cells the surface crosses, a row of cells along x at a time.
void marchApron(ApronScratch& scratch, ExtendedMesh& mesh) {
    constexpr int last = blockCellsPerAxis; // cell 32
    constexpr std::uint64_t rowCells = (std::uint64_t{1} << (last + 2)) - 1; // cells -1 .. 32
    constexpr std::uint64_t endCells = std::uint64_t{1} | std::uint64_t{1} << (last + 1);
    const ExtendedInsidePoints& inside = scratch.inside;
    for (int cz = -1; cz <= last; ++cz)
        for (int cy = -1; cy <= last; ++cy) {
            // Inside the block's rows only the cells beyond its two ends are apron.
            const bool apronRow = cy < 0 || cy == last || cz < 0 || cz == last;
            const std::uint64_t corners[4] = {inside[cz + 1][cy + 1], inside[cz + 1][cy + 2],
                                              inside[cz + 2][cy + 1], inside[cz + 2][cy + 2]};
            std::uint64_t any = 0, all = ~std::uint64_t{0};
            for (std::uint64_t c : corners) {
                any |= c | (c >> 1);
                all &= c & (c >> 1);
            }
            for (std::uint64_t cells = any & ~all & (apronRow ? rowCells : endCells); cells;
                 cells &= cells - 1) {
                const int bit = std::countr_zero(cells);
                // As caseIndexOf: corners 2 and 3, and 6 and 7, run from high x to low x.
                auto pair = [bit](std::uint64_t row) { return static_cast<unsigned>(row >> bit) & 3u; };
                auto reversedPair = [&pair](std::uint64_t row) {
                    const unsigned bits = pair(row);
                    return (bits >> 1) | (bits & 1u) << 1;
                };
                const unsigned caseIndex = pair(corners[0]) | reversedPair(corners[1]) << 2 |
                                           pair(corners[2]) << 4 | reversedPair(corners[3]) << 6;
                emitApronCell(caseIndex, bit - 1, cy, cz, scratch, mesh);
            }
        }
}

// A lattice edge key taken apart: the point it starts from and the cell axis it runs along.
struct LatticeEdge {
    int lattice[3];
    int axis;
};

LatticeEdge latticeEdgeOf(std::uint32_t edge) {
    assert(edge < extendedLatticeEdgeCount);
    LatticeEdge parts{};
    latticeCoordinates(edge / 3, parts.lattice);
    parts.axis = static_cast<int>(edge % 3);
    return parts;
}

// Where the density crosses 0 on `edge`, in block coordinates: the fraction from the edge's lower
// end, from its two samples, in double precision.
void placeOnEdge(const LatticeEdge& edge, EdgeSamples samples, double* position) {
    const double low = samples.low, high = samples.high;
    const double t = low / (low - high);
    for (int a = 0; a < 3; ++a)
        position[positionComponentOfAxis[a]] =
            double(edge.lattice[a] - blockCellsPerAxis / 2) + (a == edge.axis ? t : 0.0);
}

// The samples at the two ends of `edge`.
EdgeSamples samplesOfEdge(const float* density, const LatticeEdge& edge) {
    const int* low = edge.lattice;
    int high[3] = {low[0], low[1], low[2]};
    ++high[edge.axis];
    return {latticeSample(density, low[0], low[1], low[2]),
            latticeSample(density, high[0], high[1], high[2])};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------------------

CellCorners sampleCellCorners(int slot, int cx, int cy, int cz, int s) {
    const CellSamples samples = cellSamples(DensityReadback[slot], cx, cy, cz, s);
    CellCorners corners{};
    for (int k = 0; k < 8; ++k) {
        corners.density[k] = samples[k];
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

    BlockOutput out{};
    out.vertexEdges = latticeOfSlot[slot].vertexEdges;
    out.faceCells = latticeOfSlot[slot].faceCells;
    const StagingBuffers& staging = WorkerStagingBuffers[slot];
    {
        const LockedVertexBuffer vertices(staging.vertices, D3DLOCK_DISCARD, stepValid);
        const LockedIndexBuffer indices(staging.indices, D3DLOCK_DISCARD, bool(vertices));
        if (indices) {
            out.vertices = vertices.as<MeshVertex>();
            out.indices = indices.as<std::uint16_t>();
            walkCells(out, slot, s);
        }
    }
    SlotCpuVertexCounts[slot] = out.vertexCount;
    SlotCpuTriangleCounts[slot] = out.triangleCount;
}

void meshWithApron(std::int32_t slot, const std::uint16_t* stagedIndices, ExtendedMesh& mesh) {
    assert(slot >= 0 && slot < workerCount);
    const auto vertexCount = static_cast<std::size_t>(SlotCpuVertexCounts[slot]);
    const auto faceCount = static_cast<std::size_t>(SlotCpuTriangleCounts[slot]);
    assert(faceCount == 0 || stagedIndices != nullptr);
    const SlotLattice& block = latticeOfSlot[slot];
    mesh.vertexEdges.resize(vertexCount);
    mesh.indices.assign(stagedIndices, stagedIndices + 3 * faceCount);
    mesh.faceCells.assign(block.faceCells, block.faceCells + faceCount);
    ApronScratch& scratch = apronScratchOfSlot[slot];
    // The block's vertices are placed from the samples its walk kept. Its edges on its faces go
    // in first, so that apron cells share the block's vertices where they meet: an edge lies on a
    // face where one of its other two coordinates is 0 or 32.
    mesh.positions.resize(3 * vertexCount);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const std::uint32_t edge = block.vertexEdges[v].edge;
        mesh.vertexEdges[v] = edge;
        const LatticeEdge parts = latticeEdgeOf(edge);
        placeOnEdge(parts, block.vertexEdges[v].samples, &mesh.positions[3 * v]);
        bool onFace = false;
        for (int a = 0; a < 3; ++a)
            onFace = onFace || (a != parts.axis && (parts.lattice[a] == 0 ||
                                                    parts.lattice[a] == blockCellsPerAxis));
        if (!onFace) continue;
        scratch.vertex[edge] = static_cast<std::int32_t>(v);
        scratch.used.push_back(edge);
    }
    const float* density = DensityReadback[slot];
    findExtendedInsidePoints(density, scratchOfSlot[slot].inside, scratch.inside);
    marchApron(scratch, mesh);
    for (std::uint32_t edge : scratch.used)
        scratch.vertex[edge] = -1;
    scratch.used.clear();

    mesh.positions.resize(3 * mesh.vertexEdges.size());
    for (std::size_t v = vertexCount; v < mesh.vertexEdges.size(); ++v) {
        const LatticeEdge parts = latticeEdgeOf(mesh.vertexEdges[v]);
        placeOnEdge(parts, samplesOfEdge(density, parts), &mesh.positions[3 * v]);
    }
}
