#include "cpu/smooth_normals.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <numeric>

// Sections:
//   Points        vertices closer than epsilon, through a hash of unit cells
//   Edge pairs    the adjacency, only where it can join two different vertices
//   Sums          the angle-weighted face normals of each vertex set

namespace {

constexpr std::uint64_t emptyKey = ~std::uint64_t{0};

// Open-addressing slots for `count` entries: a power of two at least twice as many.
std::size_t tableSlots(std::size_t count) {
    return std::bit_ceil(count * 2 + 16);
}

// The product's top bits, which every bit of the key moves: keys of lattice cells would crowd
// into runs of slots under its middle bits.
std::size_t homeSlot(std::uint64_t key, std::size_t mask) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - std::popcount(mask)));
}

// ---------------------------------------------------------------------------------------------
// Points
// ---------------------------------------------------------------------------------------------

// Cells one unit wide, centred on whole-number coordinates. Marching-cubes vertices lie on the
// lattice's edges, and two of them closer than epsilon always lie near one lattice point, in the
// middle of its cell: most searches look at one cell only. Any positions stay correct.
constexpr double cellSize = 1.0;
constexpr std::int32_t cellLimit = (1 << 20) - 1;

std::int32_t clampedCell(double c) {
    if (!(c > -cellLimit)) return -cellLimit;
    if (c > cellLimit) return cellLimit;
    return static_cast<std::int32_t>(c);
}

std::uint64_t packCell(std::int32_t x, std::int32_t y, std::int32_t z) {
    auto field = [](std::int32_t c) { return static_cast<std::uint64_t>(c + cellLimit + 1) & 0x1FFFFF; };
    return field(x) | field(y) << 21 | field(z) << 42;
}

class PointCells {
  public:
    PointCells(SmoothNormalScratch& scratch, int vertexCount) : s_(scratch) {
        const std::size_t slots = tableSlots(static_cast<std::size_t>(vertexCount));
        s_.cellKeys.assign(slots, emptyKey);
        s_.cellNewest.resize(slots);
        s_.nextInCell.resize(static_cast<std::size_t>(vertexCount));
        mask_ = slots - 1;
    }

    // The newest representative in the cell, or -1.
    std::int32_t newest(std::uint64_t key) const {
        for (std::size_t slot = homeSlot(key, mask_);; slot = (slot + 1) & mask_) {
            if (s_.cellKeys[slot] == key) return s_.cellNewest[slot];
            if (s_.cellKeys[slot] == emptyKey) return -1;
        }
    }
    std::int32_t older(std::int32_t v) const { return s_.nextInCell[v]; }

    void add(std::uint64_t key, std::int32_t v) {
        std::size_t slot = homeSlot(key, mask_);
        while (s_.cellKeys[slot] != key && s_.cellKeys[slot] != emptyKey)
            slot = (slot + 1) & mask_;
        if (s_.cellKeys[slot] == emptyKey) {
            s_.cellKeys[slot] = key;
            s_.nextInCell[v] = -1;
        } else {
            s_.nextInCell[v] = s_.cellNewest[slot];
        }
        s_.cellNewest[slot] = v;
    }

  private:
    SmoothNormalScratch& s_;
    std::size_t mask_ = 0;
};

bool finitePosition(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

bool samePoint(const float* a, const float* b, double epsilonSquared) {
    double sum = 0.0;
    bool equal = true;
    for (int i = 0; i < 3; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        equal = equal && a[i] == b[i];
    }
    return equal || sum < epsilonSquared;
}

// Fills scratch.representative (each vertex's point) and scratch.pointSize (vertices per point,
// at the representative).
void findPoints(const float* positions, int vertexCount, float epsilon,
                SmoothNormalScratch& s) {
    PointCells cells(s, vertexCount);
    s.representative.resize(static_cast<std::size_t>(vertexCount));
    s.pointSize.assign(static_cast<std::size_t>(vertexCount), 0);
    const double epsilonSquared = double(epsilon) * epsilon;
    const double reach = epsilon / cellSize;
    for (std::int32_t v = 0; v < vertexCount; ++v) {
        const float* p = positions + 3 * static_cast<std::size_t>(v);
        std::int32_t found = v;
        if (finitePosition(p)) {
            // The home cell, and on each axis the neighbour whose border lies within epsilon.
            std::int32_t home[3], step[3];
            for (int i = 0; i < 3; ++i) {
                const double scaled = p[i] / cellSize;
                const double centre = std::floor(scaled + 0.5);
                home[i] = clampedCell(centre);
                const double offset = scaled - centre; // -0.5 .. 0.5
                step[i] = offset < reach - 0.5 ? -1 : offset > 0.5 - reach ? 1 : 0;
            }
            for (int corner = 0; corner < 8; ++corner) {
                if (((corner & 1) && !step[0]) || ((corner & 2) && !step[1]) ||
                    ((corner & 4) && !step[2]))
                    continue;
                const std::uint64_t key =
                    packCell(clampedCell(double(home[0]) + ((corner & 1) ? step[0] : 0)),
                             clampedCell(double(home[1]) + ((corner & 2) ? step[1] : 0)),
                             clampedCell(double(home[2]) + ((corner & 4) ? step[2] : 0)));
                for (std::int32_t c = cells.newest(key); c != -1; c = cells.older(c))
                    if (c < found && samePoint(positions + 3 * static_cast<std::size_t>(c), p, epsilonSquared))
                        found = c;
            }
            if (found == v) cells.add(packCell(home[0], home[1], home[2]), v);
        }
        s.representative[v] = found;
        ++s.pointSize[found];
    }
}

// ---------------------------------------------------------------------------------------------
// Edge pairs
// ---------------------------------------------------------------------------------------------

struct DisjointSets {
    std::vector<std::int32_t>& parent;

    std::int32_t root(std::int32_t v) {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    }
    // The lower number stays the root, so a set's root is its lowest vertex.
    void join(std::int32_t a, std::int32_t b) {
        a = root(a), b = root(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
};

// Pairs the face edges as the adjacency does and joins the ends of each pair. Only edges at a
// point of several vertices can join two different vertices, so only their groups (edges between
// the same two points) are paired; a group's pairing depends on nothing but its own edges in
// face order.
void joinPairedEdges(const std::uint32_t* indices, int faceCount, SmoothNormalScratch& s,
                     DisjointSets& sets) {
    const std::vector<std::int32_t>& point = s.representative;
    auto shared = [&s](std::int32_t p) { return s.pointSize[p] > 1; };
    std::size_t candidates = 0;
    for (int c = 0; c < 3 * faceCount; ++c)
        candidates += shared(point[indices[c]]);
    if (candidates == 0) return;

    const std::size_t slots = tableSlots(2 * candidates); // groups <= edges <= 2 * candidates
    const std::size_t mask = slots - 1;
    s.groupKeys.assign(slots, emptyKey);
    s.groupHead.resize(slots);
    s.groupTail.resize(slots);
    s.waitingSlot.clear();
    s.waitingNext.clear();
    for (int f = 0; f < faceCount; ++f)
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t* face = indices + 3 * f;
            const std::int32_t from = point[face[k]], to = point[face[(k + 1) % 3]];
            if (from == to || !(shared(from) || shared(to))) continue;
            const bool upward = from < to;
            const std::uint64_t key = std::uint64_t(std::uint32_t(std::min(from, to))) << 32 |
                                      std::uint32_t(std::max(from, to));
            std::size_t slot = homeSlot(key, mask);
            while (s.groupKeys[slot] != key && s.groupKeys[slot] != emptyKey)
                slot = (slot + 1) & mask;
            const std::int32_t self = 3 * f + k;
            if (s.groupKeys[slot] == emptyKey) {
                s.groupKeys[slot] = key;
                s.groupHead[slot] = s.groupTail[slot] = -1;
            }
            // The first waiting edge of the other direction on another face.
            std::int32_t previous = -1, node = s.groupHead[slot];
            while (node != -1) {
                const std::int32_t other = s.waitingSlot[node];
                const std::int32_t otherFrom = point[indices[other]];
                const bool otherUpward =
                    otherFrom < point[indices[other - other % 3 + (other % 3 + 1) % 3]];
                if (otherUpward != upward && other / 3 != f) break;
                previous = node;
                node = s.waitingNext[node];
            }
            if (node == -1) {
                const auto added = static_cast<std::int32_t>(s.waitingSlot.size());
                s.waitingSlot.push_back(self);
                s.waitingNext.push_back(-1);
                if (s.groupTail[slot] == -1)
                    s.groupHead[slot] = added;
                else
                    s.waitingNext[s.groupTail[slot]] = added;
                s.groupTail[slot] = added;
                continue;
            }
            // Unlink the partner, then join the ends: the partner runs the other way.
            const std::int32_t next = s.waitingNext[node];
            if (previous == -1)
                s.groupHead[slot] = next;
            else
                s.waitingNext[previous] = next;
            if (s.groupTail[slot] == node) s.groupTail[slot] = previous;
            const std::int32_t other = s.waitingSlot[node];
            const std::uint32_t* otherFace = indices + (other - other % 3);
            const int m = other % 3;
            sets.join(std::int32_t(face[k]), std::int32_t(otherFace[(m + 1) % 3]));
            sets.join(std::int32_t(face[(k + 1) % 3]), std::int32_t(otherFace[m]));
        }
}

// ---------------------------------------------------------------------------------------------
// Sums
// ---------------------------------------------------------------------------------------------

struct Vec3 {
    double x, y, z;
};

Vec3 at(const float* positions, std::uint32_t vertex) {
    const float* p = positions + 3 * static_cast<std::size_t>(vertex);
    return {p[0], p[1], p[2]};
}
Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

constexpr double pi = 3.14159265358979323846;

// atan(t) / t as a polynomial in t^2, for t in [0, 1]: a Chebyshev fit, within 1e-8.
double atanOverT(double u) {
    constexpr double c[] = {0.9999999817886558,   -0.3333303670929285,  0.1999187202926431,
                            -0.1419779779540799,  0.10618370642479312,  -0.07456854838521723,
                            0.04213762374570251,  -0.015731249223588546, 0.0027662835283182277};
    double p = c[8];
    for (int i = 7; i >= 0; --i)
        p = p * u + c[i];
    return p;
}

} // namespace

double fastAtan2(double y, double x) {
    assert(y >= 0.0);
    const double ax = std::fabs(x);
    double angle;
    if (ax <= y) {
        if (y == 0.0) return x < 0.0 ? pi : 0.0;
        const double t = ax / y;
        angle = 0.5 * pi - t * atanOverT(t * t);
    } else {
        const double t = y / ax;
        angle = t * atanOverT(t * t);
    }
    return x < 0.0 ? pi - angle : angle;
}

void computeSmoothNormals(const float* positions, int vertexCount, const std::uint32_t* indices,
                          int faceCount, float epsilon, MeshVertex* kept, int keptVertexCount,
                          SmoothNormalScratch& scratch) {
    assert(vertexCount >= 0 && faceCount >= 0 && 0 <= keptVertexCount &&
           keptVertexCount <= vertexCount);
    assert((vertexCount == 0 || positions) && (faceCount == 0 || indices) &&
           (keptVertexCount == 0 || kept));
    assert(epsilon >= 0.0f && epsilon < 0.5f);
    findPoints(positions, vertexCount, epsilon, scratch);

    scratch.parent.resize(static_cast<std::size_t>(vertexCount));
    std::iota(scratch.parent.begin(), scratch.parent.end(), 0);
    DisjointSets sets{scratch.parent};
    joinPairedEdges(indices, faceCount, scratch, sets);
    for (std::int32_t v = 0; v < vertexCount; ++v)
        scratch.parent[v] = sets.root(v);
    const std::vector<std::int32_t>& root = scratch.parent;

    // Only sets with a kept vertex, whose roots are kept vertices, need their sums.
    std::vector<double>& sums = scratch.sums;
    sums.assign(3 * static_cast<std::size_t>(keptVertexCount), 0.0);
    for (int f = 0; f < faceCount; ++f) {
        const std::uint32_t* face = indices + 3 * f;
        assert(face[0] < std::uint32_t(vertexCount) && face[1] < std::uint32_t(vertexCount) &&
               face[2] < std::uint32_t(vertexCount));
        const std::int32_t roots[3] = {root[face[0]], root[face[1]], root[face[2]]};
        if (roots[0] >= keptVertexCount && roots[1] >= keptVertexCount &&
            roots[2] >= keptVertexCount)
            continue;
        const Vec3 p0 = at(positions, face[0]), p1 = at(positions, face[1]),
                   p2 = at(positions, face[2]);
        const Vec3 e01 = p1 - p0, e02 = p2 - p0, e12 = p2 - p1;
        const Vec3 normal = cross(e01, e02);
        const double twiceArea = std::sqrt(dot(normal, normal));
        if (!(twiceArea > 0.0) || !std::isfinite(twiceArea)) continue;
        // Every corner's two edges span the same twice-area, so each angle is one atan2 of it and
        // the edges' dot product; the three add up to pi.
        const double angle0 = fastAtan2(twiceArea, dot(e01, e02));
        const double angle1 = fastAtan2(twiceArea, -dot(e01, e12));
        const double angles[3] = {angle0, angle1, std::max(0.0, pi - angle0 - angle1)};
        const double perArea = 1.0 / twiceArea;
        for (int k = 0; k < 3; ++k) {
            if (roots[k] >= keptVertexCount) continue;
            const double weight = angles[k] * perArea;
            double* sum = &sums[3 * static_cast<std::size_t>(roots[k])];
            sum[0] += weight * normal.x;
            sum[1] += weight * normal.y;
            sum[2] += weight * normal.z;
        }
    }
    for (std::int32_t v = 0; v < keptVertexCount; ++v) {
        const double* sum = &sums[3 * static_cast<std::size_t>(root[v])];
        const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        for (int i = 0; i < 3; ++i)
            kept[v].normal[i] = length > 0.0 ? static_cast<float>(sum[i] / length) : 0.0f;
    }
}
