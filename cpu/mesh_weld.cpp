#include "cpu/mesh_weld.h"

#include "platform/d3d9/d3dx9math.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>

namespace {

constexpr double weldDistanceSq = weldDistance * weldDistance;

// Cells four weld distances wide, centred on multiples of their width. A match lies in the
// corner's cell or, on each axis where the corner is within weldDistance of its cell's border,
// in the neighbour across that border. Mesh positions on whole-number lattice coordinates sit in
// their cells' middles, so most corners look at one or two cells; a cell still holds few welded
// vertices, as those lie weldDistance apart.
constexpr double cellWidth = 4.0 * weldDistance;
// How near a border, in cell widths, a corner must be to look across it; a little more than
// weldDistance, against the rounding of the scaling.
constexpr double borderReach = weldDistance / cellWidth + 1e-6;

// Cell coordinates are clamped to 21 bits each and packed into one word; far-away and
// non-finite positions share the border cells, which costs only extra distance checks.
constexpr std::int32_t cellCoordinateLimit = (1 << 20) - 1;
constexpr std::uint64_t emptySlot = ~std::uint64_t{0}; // no packed key has bit 63 set

std::int32_t clampedCell(double cell) {
    if (!(cell > -cellCoordinateLimit)) return -cellCoordinateLimit; // NaN lands here too
    if (cell > cellCoordinateLimit) return cellCoordinateLimit;
    return static_cast<std::int32_t>(cell);
}

// The cell of one coordinate, and -1, 0 or 1: the neighbour to look at too.
struct AxisCell {
    std::int32_t cell;
    int across;
};

AxisCell axisCell(float position) {
    const double scaled = static_cast<double>(position) / cellWidth;
    const double centre = std::floor(scaled + 0.5);
    const double offset = scaled - centre; // -0.5 .. 0.5, NaN for NaN
    return {clampedCell(centre), offset < borderReach - 0.5 ? -1 : offset > 0.5 - borderReach ? 1 : 0};
}

std::uint64_t packCell(std::int32_t x, std::int32_t y, std::int32_t z) {
    auto field = [](std::int32_t c) {
        return static_cast<std::uint64_t>(c + cellCoordinateLimit + 1) & 0x1FFFFF;
    };
    return field(x) | field(y) << 21 | field(z) << 42;
}

class CellTable {
  public:
    CellTable(WeldScratch& scratch, int cornerCount) : scratch_(scratch) {
        const std::size_t capacity = std::bit_ceil(static_cast<std::size_t>(cornerCount) * 2 + 16);
        scratch_.cellKeys.assign(capacity, emptySlot);
        scratch_.cellFirst.assign(capacity, -1);
        scratch_.nextInCell.resize(static_cast<std::size_t>(cornerCount));
        mask_ = capacity - 1;
        shift_ = 64 - std::countr_zero(capacity);
    }

    // The newest vertex of the cell, or -1.
    std::int32_t first(std::uint64_t key) const {
        for (std::size_t slot = home(key);; slot = (slot + 1) & mask_) {
            if (scratch_.cellKeys[slot] == key) return scratch_.cellFirst[slot];
            if (scratch_.cellKeys[slot] == emptySlot) return -1;
        }
    }

    std::int32_t next(std::int32_t vertex) const { return scratch_.nextInCell[vertex]; }

    void add(std::uint64_t key, std::int32_t vertex) {
        std::size_t slot = home(key);
        while (scratch_.cellKeys[slot] != key && scratch_.cellKeys[slot] != emptySlot)
            slot = (slot + 1) & mask_;
        scratch_.cellKeys[slot] = key;
        scratch_.nextInCell[vertex] = scratch_.cellFirst[slot];
        scratch_.cellFirst[slot] = vertex;
    }

  private:
    // The product's top bits, which every bit of the key moves: cells on a regular lattice, as
    // mesh positions are, would crowd into runs of slots under its middle bits.
    std::size_t home(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    WeldScratch& scratch_;
    std::size_t mask_ = 0;
    int shift_ = 64;
};

double distanceSq(const float* a, const float* b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    return sum;
}

// The earliest-made welded vertex less than weldDistance from `position`, or -1.
std::int32_t findMatch(const CellTable& table, const MeshVertex* welded, const float* position,
                       const AxisCell cell[3]) {
    std::int32_t match = -1;
    for (int corner = 0; corner < 8; ++corner) {
        std::int32_t c[3];
        bool wanted = true;
        for (int axis = 0; axis < 3 && wanted; ++axis) {
            const bool across = (corner >> axis) & 1;
            wanted = !across || cell[axis].across != 0;
            c[axis] = across ? std::clamp(cell[axis].cell + cell[axis].across, -cellCoordinateLimit,
                                          cellCoordinateLimit)
                             : cell[axis].cell;
        }
        if (!wanted) continue;
        for (std::int32_t w = table.first(packCell(c[0], c[1], c[2])); w != -1; w = table.next(w))
            if ((match == -1 || w < match) &&
                distanceSq(welded[w].position, position) < weldDistanceSq)
                match = w;
    }
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

    CellTable table(scratch, cornerCount);
    std::int32_t weldedCount = 0;
    for (int corner = 0; corner < cornerCount; ++corner) {
        assert(sourceIndices[corner] < vertexCount);
        const MeshVertex& source = vertices[sourceIndices[corner]];
        const AxisCell cell[3] = {axisCell(source.position[0]), axisCell(source.position[1]),
                                  axisCell(source.position[2])};
        std::int32_t target = findMatch(table, welded, source.position, cell);
        if (target == -1) {
            target = weldedCount++;
            welded[target] = source;
            table.add(packCell(cell[0].cell, cell[1].cell, cell[2].cell), target);
        } else {
            mergeInto(welded[target], source);
        }
        indices[corner] = static_cast<std::uint16_t>(target);
    }
    return weldedCount;
}
