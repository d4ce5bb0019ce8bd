#include "cpu/mesh_weld.h"

#include "platform/d3d9/d3dx9math.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

constexpr double weldDistanceSq = weldDistance * weldDistance;

// Cells a quarter unit wide, centred on multiples of their width. A match lies in the corner's
// cell or, on each axis where the corner is within weldDistance of its cell's border, in the
// neighbour across that border. Marching-cubes positions lie on lattice edges, whole numbers on
// two axes, which sit in their cells' middles: about one corner in twelve looks at a second cell.
// A cell holds at most the few vertices on the lattice edges through it.
constexpr double cellWidth = 0.25;
constexpr double cellsPerUnit = 1.0 / cellWidth;
// How near a border, in cell widths, a corner must be to look across it; a little more than
// weldDistance, against the rounding of the scaling.
constexpr double borderReach = weldDistance / cellWidth + 1e-6;

// Cell coordinates are clamped to 21 bits each and packed into one word; far-away and
// non-finite positions share the border cells, which costs only extra distance checks.
constexpr std::int32_t cellCoordinateLimit = (1 << 20) - 1;
// Slots that no weld has written: weld numbers start at 1.
constexpr WeldScratch::Cell emptyCell{0, -1, 0};
constexpr WeldScratch::ExactSlot emptyExactSlot{{}, 0};

// The cell of one coordinate, and -1, 0 or 1: the neighbour to look at too.
struct AxisCell {
    std::int32_t cell;
    int across;
};

// The cells of a vertex's three coordinates: the cell whose middle is nearest to each, and which
// neighbour to look at too. In one vector, four lanes wide, on processors that have one; scaling
// by a power of two and the offset from the cell's middle are exact in single precision.
#if defined(__SSE2__)
[[gnu::always_inline]] inline void cellsOf(const MeshVertex& vertex, AxisCell* cells) {
    __m128 position; // x, y, z and the normal's x, which is ignored
    static_assert(offsetof(MeshVertex, position) == 0 && sizeof(MeshVertex) >= sizeof position);
    std::memcpy(&position, &vertex, sizeof position);
    const __m128 scaled = _mm_mul_ps(position, _mm_set1_ps(static_cast<float>(cellsPerUnit)));
    const __m128 inRange = _mm_cmplt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), scaled),
                                        _mm_set1_ps(static_cast<float>(cellCoordinateLimit)));
    const __m128 shifted = _mm_add_ps(scaled, _mm_set1_ps(0.5f));
    __m128i cell = _mm_cvttps_epi32(shifted);
    // Truncation rounds negative values up; the comparison's all-ones lanes subtract one.
    cell = _mm_add_epi32(cell, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(cell), shifted)));
    const __m128 offset = _mm_sub_ps(scaled, _mm_cvtepi32_ps(cell));
    const __m128i low = _mm_castps_si128(
        _mm_cmplt_ps(offset, _mm_set1_ps(static_cast<float>(borderReach - 0.5))));
    const __m128i high = _mm_castps_si128(
        _mm_cmpgt_ps(offset, _mm_set1_ps(static_cast<float>(0.5 - borderReach))));
    __m128i across = _mm_sub_epi32(low, high); // -1, 0 or 1
    // Far away or not a number: the border cell on its side, no neighbour.
    const __m128i farCell = _mm_add_epi32(
        _mm_and_si128(_mm_castps_si128(_mm_cmpgt_ps(scaled, _mm_setzero_ps())),
                      _mm_set1_epi32(2 * cellCoordinateLimit)),
        _mm_set1_epi32(-cellCoordinateLimit));
    const __m128i near = _mm_castps_si128(inRange);
    cell = _mm_or_si128(_mm_and_si128(near, cell), _mm_andnot_si128(near, farCell));
    across = _mm_and_si128(near, across);
    alignas(16) std::int32_t cellLanes[4], acrossLanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(cellLanes), cell);
    _mm_store_si128(reinterpret_cast<__m128i*>(acrossLanes), across);
    for (int i = 0; i < 3; ++i)
        cells[i] = {cellLanes[i], acrossLanes[i]};
}
#else
AxisCell axisCell(float position) {
    const double scaled = static_cast<double>(position) * cellsPerUnit;
    if (!(std::fabs(scaled) < cellCoordinateLimit)) // far away, or NaN
        return {scaled > 0.0 ? cellCoordinateLimit : -cellCoordinateLimit, 0};
    const auto cell = static_cast<std::int32_t>(std::floor(scaled + 0.5));
    const double offset = scaled - cell; // -0.5 .. 0.5
    return {cell, offset < borderReach - 0.5 ? -1 : offset > 0.5 - borderReach ? 1 : 0};
}

void cellsOf(const MeshVertex& vertex, AxisCell* cells) {
    for (int i = 0; i < 3; ++i)
        cells[i] = axisCell(vertex.position[i]);
}
#endif

std::uint64_t packCell(std::int32_t x, std::int32_t y, std::int32_t z) {
    auto field = [](std::int32_t c) {
        return static_cast<std::uint64_t>(c + cellCoordinateLimit + 1) & 0x1FFFFF;
    };
    return field(x) | field(y) << 21 | field(z) << 42;
}

// The welded vertices by cell: an open-addressing table of the cells met, each naming its newest
// vertex, which names the one before it in the cell. It doubles at half full. A weld whose corners
// repeat their vertices (most meshes: a terrain vertex has about six corners) makes fewer cells
// than a quarter of its corners, so its table, sized for that, never grows. A slot that another
// weld wrote is empty, so the table is not cleared for each weld: that took a tenth of a weld.
class CellTable {
  public:
    CellTable(WeldScratch& scratch, int cornerCount) : scratch_(scratch), weld_(scratch.weld) {
        scratch_.nextInCell.resize(static_cast<std::size_t>(cornerCount));
        useSlots(std::bit_ceil(static_cast<std::size_t>(cornerCount) / 2 + 64));
    }

    // The slot that holds the cell, or the empty slot where it would go.
    std::size_t slotOf(std::uint64_t key) const {
        std::size_t slot = home(key);
        while (scratch_.cells[slot].weld == weld_ && scratch_.cells[slot].key != key)
            slot = (slot + 1) & mask_;
        return slot;
    }

    // The newest vertex of the cell in `slot`, or -1.
    std::int32_t newestAt(std::size_t slot) const {
        const WeldScratch::Cell& cell = scratch_.cells[slot];
        return cell.weld == weld_ ? cell.newest : -1;
    }

    // The newest vertex of the cell, or -1.
    std::int32_t first(std::uint64_t key) const { return newestAt(slotOf(key)); }

    std::int32_t next(std::int32_t vertex) const { return scratch_.nextInCell[vertex]; }

    // Adds `vertex` to the cell that slotOf(key) placed at `slot`, with no cell added since.
    void addAt(std::size_t slot, std::uint64_t key, std::int32_t vertex) {
        WeldScratch::Cell& cell = scratch_.cells[slot];
        if (cell.weld != weld_) {
            cell = {key, -1, weld_};
            if (++used_ * 2 > slotCount_) {
                scratch_.nextInCell[vertex] = -1;
                grow(key, vertex);
                return;
            }
        }
        scratch_.nextInCell[vertex] = cell.newest;
        cell.newest = vertex;
    }

  private:
    // The product's top bits, which every bit of the key moves: cells on a regular lattice, as
    // mesh positions are, would crowd into runs of slots under its middle bits.
    std::size_t home(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    // Uses the first `slotCount` slots, a power of two; those past any earlier weld's are new.
    void useSlots(std::size_t slotCount) {
        if (scratch_.cells.size() < slotCount) scratch_.cells.resize(slotCount, emptyCell);
        slotCount_ = slotCount;
        mask_ = slotCount - 1;
        shift_ = 64 - std::countr_zero(slotCount);
    }

    // Doubles the table, moving every cell's chain; `vertex`, just added in cell `key`, starts
    // its cell's chain. The slots past the old ones hold no cell of this weld.
    void grow(std::uint64_t key, std::int32_t vertex) {
        std::vector<WeldScratch::Cell>& moved = scratch_.cellsMoved;
        const auto oldSlots = scratch_.cells.begin() + static_cast<std::ptrdiff_t>(slotCount_);
        moved.assign(scratch_.cells.begin(), oldSlots);
        std::fill(scratch_.cells.begin(), oldSlots, emptyCell);
        useSlots(2 * slotCount_);
        for (const WeldScratch::Cell& cell : moved)
            if (cell.weld == weld_) scratch_.cells[slotOf(cell.key)] = cell;
        scratch_.cells[slotOf(key)].newest = vertex;
    }

    WeldScratch& scratch_;
    std::uint32_t weld_;
    std::size_t used_ = 0;
    std::size_t slotCount_ = 0;
    std::size_t mask_ = 0;
    int shift_ = 64;
};

// Whether the three floats whose bits are `bits` are all finite: their exponents are not all ones.
// One test of the three together, where separate tests would be three branches per corner.
bool finitePosition(const std::uint32_t* bits) {
    constexpr std::uint32_t exponent = 0x7F800000;
    return ((bits[0] & exponent) != exponent) & ((bits[1] & exponent) != exponent) &
           ((bits[2] & exponent) != exponent);
}

// Corners that repeat an earlier corner's position bit for bit, as the corners of the triangles
// around one mesh vertex do, join that corner's welded vertex at once. That is the vertex the
// search would find again: welded vertices keep their positions and later ones are numbered
// higher, so the earliest-made one near a position stays the same for the whole weld. A
// direct-mapped table from a position's bits to that vertex, where a collision only costs a
// search. A vertex's corners come close together in a mesh, so an eighth of a slot per corner
// keeps most hits and the table in the first-level cache. Each slot is tagged with the weld that
// wrote it, so that the table is not cleared for each weld.
class ExactPositions {
  public:
    ExactPositions(WeldScratch& scratch, int cornerCount)
        : slots_(scratch.exactSlots), tag_(scratch.weld << 16) {
        const std::size_t slotCount = std::bit_ceil(static_cast<std::size_t>(cornerCount) / 8 + 16);
        if (slots_.size() < slotCount) slots_.resize(slotCount, emptyExactSlot);
        shift_ = 64 - std::countr_zero(slotCount);
    }

    // The slot of the position whose bits are `bits` (three words).
    std::size_t slotOf(const std::uint32_t* bits) const {
        const std::uint64_t key = (std::uint64_t{bits[0]} << 32 | bits[1]) ^
                                  std::uint64_t{bits[2]} * 0xC2B2AE3D27D4EB4Full;
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    // The welded vertex that the slot names for exactly the position `bits`, or -1.
    std::int32_t vertexAt(std::size_t slot, const std::uint32_t* bits) const {
        const WeldScratch::ExactSlot& entry = slots_[slot];
        if (entry.position[0] != bits[0] || entry.position[1] != bits[1] ||
            entry.position[2] != bits[2] || (entry.taggedVertex & ~vertexBits) != tag_)
            return -1;
        return static_cast<std::int32_t>(entry.taggedVertex & vertexBits);
    }

    void remember(std::size_t slot, const std::uint32_t* bits, std::int32_t vertex) {
        slots_[slot] = {{bits[0], bits[1], bits[2]}, tag_ | static_cast<std::uint32_t>(vertex)};
    }

  private:
    static constexpr std::uint32_t vertexBits = 0xFFFF; // welded vertices number below 65,535
    std::vector<WeldScratch::ExactSlot>& slots_;
    std::uint32_t tag_;
    int shift_ = 64;
};

// Gives the weld about to start its number. After the last one the tables are cleared, so that
// no slot of an earlier weld carries the number again.
void startWeld(WeldScratch& scratch) {
    if (++scratch.weld <= 0xFFFF) return;
    std::fill(scratch.cells.begin(), scratch.cells.end(), emptyCell);
    std::fill(scratch.exactSlots.begin(), scratch.exactSlots.end(), emptyExactSlot);
    scratch.weld = 1;
}

double distanceSq(const float* a, const float* b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    return sum;
}

// The earliest-made welded vertex less than weldDistance from `position`, or -1. `ownSlot` is
// the table slot of the corner's own cell, which is looked at first.
std::int32_t findMatch(const CellTable& table, const MeshVertex* welded, const float* position,
                       const AxisCell cell[3], std::size_t ownSlot) {
    // The cells to look in: the corner's own, and its neighbours across the near borders.
    std::int32_t xs[2] = {cell[0].cell, cell[0].cell + cell[0].across};
    std::int32_t ys[2] = {cell[1].cell, cell[1].cell + cell[1].across};
    std::int32_t zs[2] = {cell[2].cell, cell[2].cell + cell[2].across};
    const int xCount = 1 + (cell[0].across != 0), yCount = 1 + (cell[1].across != 0),
              zCount = 1 + (cell[2].across != 0);
    std::int32_t match = -1;
    for (int i = 0; i < xCount; ++i)
        for (int j = 0; j < yCount; ++j)
            for (int k = 0; k < zCount; ++k)
                for (std::int32_t w = i + j + k == 0 ? table.newestAt(ownSlot)
                                                    : table.first(packCell(xs[i], ys[j], zs[k]));
                     w != -1; w = table.next(w))
                    if ((match == -1 || w < match) &&
                        distanceSq(welded[w].position, position) < weldDistanceSq)
                        match = w;
    return match;
}

void mergeInto(MeshVertex& target, const MeshVertex& source) {
    target.u = (target.u + source.u) * 0.5f;
    target.v = (target.v + source.v) * 0.5f;
    const D3DXVECTOR3 sum(target.normal[0] + source.normal[0], target.normal[1] + source.normal[1],
                          target.normal[2] + source.normal[2]);
    D3DXVECTOR3 normal;
    D3DXVec3Normalize(&normal, &sum);
    target.normal[0] = normal.x;
    target.normal[1] = normal.y;
    target.normal[2] = normal.z;
}

} // namespace

int weldTriangleList(const MeshVertex* vertices, [[maybe_unused]] int vertexCount,
                     const std::uint16_t* sourceIndices, int cornerCount, MeshVertex* welded,
                     std::uint16_t* indices, WeldScratch& scratch) {
    assert(vertices != nullptr && sourceIndices != nullptr && welded != nullptr &&
           indices != nullptr);
    assert(cornerCount >= 0 && cornerCount % 3 == 0 && cornerCount <= blockMeshVertexLimit);
    assert(vertexCount >= 0);

    // First every corner's welded vertex, then the merges. Which vertex a corner joins depends
    // only on the welded positions, which merging leaves alone, so the merges wait for a second
    // pass; there one merge's square root and division hold up no lookup, and merges into
    // different vertices overlap.
    startWeld(scratch);
    CellTable table(scratch, cornerCount);
    ExactPositions exact(scratch, cornerCount);
    std::int32_t weldedCount = 0;
    for (int corner = 0; corner < cornerCount; ++corner) {
        assert(sourceIndices[corner] < vertexCount);
        const MeshVertex& source = vertices[sourceIndices[corner]];
        std::uint32_t bits[3];
        std::memcpy(bits, source.position, sizeof bits);
        const bool finite = finitePosition(bits);
        const std::size_t exactSlot = finite ? exact.slotOf(bits) : 0;
        std::int32_t target = finite ? exact.vertexAt(exactSlot, bits) : -1;
        if (target == -1) {
            AxisCell cell[3];
            cellsOf(source, cell);
            const std::uint64_t ownKey = packCell(cell[0].cell, cell[1].cell, cell[2].cell);
            const std::size_t ownSlot = table.slotOf(ownKey);
            target = findMatch(table, welded, source.position, cell, ownSlot);
            if (target == -1) {
                target = weldedCount++;
                welded[target] = source;
                table.addAt(ownSlot, ownKey, target);
            }
            if (finite) exact.remember(exactSlot, bits, target);
        }
        indices[corner] = static_cast<std::uint16_t>(target);
    }

    // A corner made its vertex exactly when its index is the number of vertices made before it.
    std::int32_t made = 0;
    for (int corner = 0; corner < cornerCount; ++corner) {
        const std::int32_t target = indices[corner];
        if (target == made)
            ++made;
        else
            mergeInto(welded[target], vertices[sourceIndices[corner]]);
    }
    assert(made == weldedCount);
    return weldedCount;
}
