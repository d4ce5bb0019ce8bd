#include "mesh_geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace d3dx {

D3DXVECTOR3 TriangleMesh::position(std::uint32_t vertex) const {
    D3DXVECTOR3 p;
    std::memcpy(&p.x, vertices + std::size_t(vertex) * stride + positionOffset, 3 * sizeof(float));
    return p;
}

bool TriangleMesh::indicesInRange() const {
    return std::all_of(indices, indices + 3 * std::size_t(faceCount),
                       [this](std::uint16_t index) { return index < vertexCount; });
}

namespace {

using Cell = std::array<std::int64_t, 3>;

struct CellHash {
    std::size_t operator()(const Cell& cell) const {
        std::uint64_t h = 0;
        for (std::int64_t c : cell) { // splitmix64 steps: every input bit moves every output bit
            h = (h ^ static_cast<std::uint64_t>(c)) + 0x9E3779B97F4A7C15ull;
            h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
            h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
            h ^= h >> 31;
        }
        return static_cast<std::size_t>(h);
    }
};

// Exact positions as cells: -0 and +0 are one position.
std::int64_t exactCellOf(float coordinate) {
    std::int32_t bits;
    const float normalised = coordinate == 0.0f ? 0.0f : coordinate;
    std::memcpy(&bits, &normalised, sizeof bits);
    return bits;
}

double distanceSquared(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    const double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// Where to look for the points near p. With cells twice epsilon wide, the points less than
// epsilon from p lie in p's cell or in the neighbour on the side of p's nearer border, so two
// cells per axis (eight in all) cover them. With epsilon 0 only p's exact position counts.
struct Neighbourhood {
    Cell home;
    Cell step; // -1 or +1 per axis; 0 for exact positions
};

Neighbourhood neighbourhood(const D3DXVECTOR3& p, float epsilon) {
    if (!(epsilon > 0.0f)) return {{exactCellOf(p.x), exactCellOf(p.y), exactCellOf(p.z)}, {}};
    Neighbourhood n;
    const float coordinates[3] = {p.x, p.y, p.z};
    for (int axis = 0; axis < 3; ++axis) {
        const double scaled = coordinates[axis] / (2.0 * epsilon);
        // Clamped so that huge coordinates over a tiny epsilon stay representable; clamped
        // points share cells, which costs only search time.
        const double cell = std::clamp(std::floor(scaled), -4.0e18, 4.0e18);
        n.home[axis] = static_cast<std::int64_t>(cell);
        n.step[axis] = scaled - cell < 0.5 ? -1 : 1;
    }
    return n;
}

} // namespace

std::vector<std::uint32_t> pointRepresentatives(const TriangleMesh& mesh, float epsilon) {
    constexpr std::uint32_t none = 0xFFFFFFFFu;
    std::vector<std::uint32_t> representatives(mesh.vertexCount);
    // Each cell lists its representatives, newest first, through `nextInCell`.
    std::unordered_map<Cell, std::uint32_t, CellHash> newestInCell;
    newestInCell.reserve(mesh.vertexCount);
    std::vector<std::uint32_t> nextInCell(mesh.vertexCount, none);
    const double epsilonSquared = double(epsilon) * epsilon;
    for (std::uint32_t v = 0; v < mesh.vertexCount; ++v) {
        representatives[v] = v;
        const D3DXVECTOR3 p = mesh.position(v);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
        const Neighbourhood n = neighbourhood(p, epsilon);
        std::uint32_t found = v;
        for (int corner = 0; corner < 8; ++corner) {
            const Cell cell = {n.home[0] + ((corner & 1) ? n.step[0] : 0),
                               n.home[1] + ((corner & 2) ? n.step[1] : 0),
                               n.home[2] + ((corner & 4) ? n.step[2] : 0)};
            if (corner && cell == n.home) break; // exact positions: one cell only
            const auto it = newestInCell.find(cell);
            if (it == newestInCell.end()) continue;
            for (std::uint32_t c = it->second; c != none; c = nextInCell[c]) {
                if (c >= found) continue;
                const D3DXVECTOR3 q = mesh.position(c);
                if (q == p || distanceSquared(p, q) < epsilonSquared) found = c;
            }
        }
        if (found != v) {
            representatives[v] = found;
            continue;
        }
        const auto [it, inserted] = newestInCell.try_emplace(n.home, v);
        if (!inserted) nextInCell[v] = std::exchange(it->second, v);
    }
    return representatives;
}

void faceAdjacency(const TriangleMesh& mesh, std::span<const std::uint32_t> representatives,
                   DWORD* adjacency) {
    std::fill(adjacency, adjacency + 3 * std::size_t(mesh.faceCount), noAdjacentFace);
    // Every edge between two different points, grouped by its pair of points and kept in face
    // order within a group; an edge joins the first earlier edge of its group that runs the
    // other way on another face and has no partner yet.
    struct HalfEdge {
        std::uint64_t points; // lower point in the high half
        std::uint32_t slot;   // 3 * face + edge
        bool upward;          // runs from the lower point to the higher
    };
    std::vector<HalfEdge> edges;
    edges.reserve(3 * std::size_t(mesh.faceCount));
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
        for (std::uint32_t k = 0; k < 3; ++k) {
            const std::uint32_t from = representatives[mesh.corner(f, k)];
            const std::uint32_t to = representatives[mesh.corner(f, (k + 1) % 3)];
            if (from == to) continue; // a collapsed edge borders nothing
            const auto [low, high] = std::minmax(from, to);
            edges.push_back({std::uint64_t(low) << 32 | high, 3 * f + k, from < to});
        }
    std::sort(edges.begin(), edges.end(), [](const HalfEdge& a, const HalfEdge& b) {
        return a.points != b.points ? a.points < b.points : a.slot < b.slot;
    });
    std::vector<std::uint32_t> waiting[2]; // slots without a partner yet, by direction
    for (std::size_t first = 0; first < edges.size();) {
        std::size_t last = first;
        while (last < edges.size() && edges[last].points == edges[first].points)
            ++last;
        waiting[0].clear();
        waiting[1].clear();
        for (std::size_t i = first; i < last; ++i) {
            const HalfEdge& edge = edges[i];
            const std::uint32_t face = edge.slot / 3;
            auto& partners = waiting[!edge.upward];
            const auto partner = std::find_if(partners.begin(), partners.end(),
                                              [face](std::uint32_t s) { return s / 3 != face; });
            if (partner == partners.end()) {
                waiting[edge.upward].push_back(edge.slot);
                continue;
            }
            adjacency[edge.slot] = *partner / 3;
            adjacency[*partner] = face;
            partners.erase(partner);
        }
        first = last;
    }
}

namespace {

struct DisjointSets {
    std::vector<std::uint32_t> parent;

    explicit DisjointSets(std::uint32_t count) : parent(count) {
        std::iota(parent.begin(), parent.end(), 0u);
    }
    std::uint32_t root(std::uint32_t v) {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    }
    void join(std::uint32_t a, std::uint32_t b) {
        a = root(a), b = root(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
};

// The edge of face g that the adjacency pairs with edge k of face f, or 3 if g names no edge
// back. Where g names f on several edges (two faces folded onto each other share all three), it
// is the one whose ends lie nearest to edge k's, reversed: the first one would join the ends of
// two different edges.
std::uint32_t edgeBack(const TriangleMesh& mesh, const DWORD* adjacency, std::uint32_t f,
                       std::uint32_t k, std::uint32_t g) {
    const D3DXVECTOR3 start = mesh.position(mesh.corner(f, k));
    const D3DXVECTOR3 end = mesh.position(mesh.corner(f, (k + 1) % 3));
    std::uint32_t back = 3;
    double nearest = 0.0;
    for (std::uint32_t m = 0; m < 3; ++m) {
        if (adjacency[3 * g + m] != f) continue;
        const double apart = distanceSquared(mesh.position(mesh.corner(g, m)), end) +
                             distanceSquared(mesh.position(mesh.corner(g, (m + 1) % 3)), start);
        if (back == 3 || apart < nearest) back = m, nearest = apart;
    }
    return back;
}

} // namespace

bool adjacencyRepresentatives(const TriangleMesh& mesh, const DWORD* adjacency,
                              std::vector<std::uint32_t>& representatives) {
    DisjointSets sets(mesh.vertexCount);
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
        for (std::uint32_t k = 0; k < 3; ++k) {
            const DWORD g = adjacency[3 * f + k];
            if (g == noAdjacentFace) continue;
            if (g >= mesh.faceCount) return false;
            const std::uint32_t m = edgeBack(mesh, adjacency, f, k, g);
            if (m == 3) continue;
            // The neighbour's edge back to f runs the other way: its start meets our end.
            sets.join(mesh.corner(f, k), mesh.corner(g, (m + 1) % 3));
            sets.join(mesh.corner(f, (k + 1) % 3), mesh.corner(g, m));
        }
    representatives.resize(mesh.vertexCount);
    for (std::uint32_t v = 0; v < mesh.vertexCount; ++v)
        representatives[v] = sets.root(v);
    return true;
}

namespace {

struct Vec3d {
    double x = 0, y = 0, z = 0;
};

Vec3d difference(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {double(a.x) - b.x, double(a.y) - b.y, double(a.z) - b.z};
}
double dot(const Vec3d& a, const Vec3d& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3d cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(const Vec3d& v) {
    return std::sqrt(dot(v, v));
}

// The angle between two edges leaving a corner; 0 when either has no length.
double cornerAngle(const Vec3d& a, const Vec3d& b) {
    const double lengths = length(a) * length(b);
    if (!(lengths > 0.0)) return 0.0;
    return std::acos(std::clamp(dot(a, b) / lengths, -1.0, 1.0));
}

} // namespace

std::vector<D3DXVECTOR3> angleWeightedNormals(const TriangleMesh& mesh,
                                              std::span<const std::uint32_t> representatives) {
    std::vector<Vec3d> sums(mesh.vertexCount);
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f) {
        const D3DXVECTOR3 p[3] = {mesh.position(mesh.corner(f, 0)),
                                  mesh.position(mesh.corner(f, 1)),
                                  mesh.position(mesh.corner(f, 2))};
        const Vec3d normal = cross(difference(p[1], p[0]), difference(p[2], p[0]));
        const double area2 = length(normal);
        if (!(area2 > 0.0) || !std::isfinite(area2)) continue;
        for (int k = 0; k < 3; ++k) {
            const double weight =
                cornerAngle(difference(p[(k + 1) % 3], p[k]), difference(p[(k + 2) % 3], p[k])) /
                area2;
            Vec3d& sum = sums[representatives[mesh.corner(f, k)]];
            sum.x += weight * normal.x;
            sum.y += weight * normal.y;
            sum.z += weight * normal.z;
        }
    }
    std::vector<D3DXVECTOR3> normals(mesh.vertexCount);
    for (std::uint32_t v = 0; v < mesh.vertexCount; ++v) {
        const Vec3d& sum = sums[representatives[v]];
        const double l = length(sum);
        normals[v] = l > 0.0 ? D3DXVECTOR3(float(sum.x / l), float(sum.y / l), float(sum.z / l))
                             : D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    }
    return normals;
}

} // namespace d3dx
