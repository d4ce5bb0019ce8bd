#include "cpu/smooth_normals.h"

#include "cpu/face_weights.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>

// Sections:
//   Points        vertices closer than epsilon, found around the lattice points they lie near
//   Edge pairs    the adjacency, only where it can join two different vertices
//   Sums          the angle-weighted face normals of each vertex set

namespace {

// ---------------------------------------------------------------------------------------------
// Points
// ---------------------------------------------------------------------------------------------

// A vertex lies on a lattice edge. Two vertices on different edges closer than epsilon (< 0.5)
// both lie within epsilon of a point the two edges share: edges without a common point are a
// whole unit apart. So the only candidates are the vertices near one lattice point, at most one
// on each of its six edges.

bool samePoint(const double* a, const double* b, double epsilonSquared) {
    double sum = 0.0;
    bool equal = true;
    for (int i = 0; i < 3; ++i) {
        const double d = a[i] - b[i];
        sum += d * d;
        equal = equal && a[i] == b[i];
    }
    return equal || sum < epsilonSquared;
}

// The lattice point within epsilon of vertex v along its edge, or -1.
std::int64_t nearLatticePoint(const ExtendedMesh& mesh, std::int32_t v, double epsilon) {
    const std::uint32_t edge = mesh.vertexEdges[v];
    const std::uint32_t point = edge / 3;
    const int axis = static_cast<int>(edge % 3);
    int lattice[3];
    latticeCoordinates(point, lattice);
    // Block coordinates are cell units with the block's cell 0 at -16.
    const double low = double(lattice[axis] - blockCellsPerAxis / 2);
    const double along =
        mesh.positions[3 * static_cast<std::size_t>(v) + positionComponentOfAxis[axis]];
    const double fromLow = along - low, fromHigh = low + 1.0 - along;
    if (fromLow == 0.0 || (fromLow > 0.0 && fromLow < epsilon)) return point;
    if (fromHigh == 0.0 || (fromHigh > 0.0 && fromHigh < epsilon))
        return point + latticePointStride[axis];
    return -1;
}

// Fills s.representative (each vertex's point) and s.pointSize (vertices per point, at the
// representative).
void findPoints(const ExtendedMesh& mesh, float epsilon, SmoothNormalScratch& s) {
    const auto vertexCount = static_cast<std::int32_t>(mesh.vertexEdges.size());
    s.representative.resize(static_cast<std::size_t>(vertexCount));
    std::iota(s.representative.begin(), s.representative.end(), 0);
    s.pointSize.assign(static_cast<std::size_t>(vertexCount), 1);
    s.nextNear.resize(static_cast<std::size_t>(vertexCount));
    if (s.nearestPointHead.empty()) s.nearestPointHead.assign(extendedLatticePointCount, -1);

    for (std::int32_t v = 0; v < vertexCount; ++v) {
        const std::int64_t point = nearLatticePoint(mesh, v, epsilon);
        if (point < 0) continue;
        std::int32_t& head = s.nearestPointHead[static_cast<std::size_t>(point)];
        if (head == -1) s.usedPoints.push_back(static_cast<std::uint32_t>(point));
        s.nextNear[v] = head;
        head = v;
    }

    const double epsilonSquared = double(epsilon) * epsilon;
    auto positionOf = [&mesh](std::int32_t v) {
        return &mesh.positions[3 * static_cast<std::size_t>(v)];
    };
    for (std::uint32_t point : s.usedPoints) {
        std::int32_t& head = s.nearestPointHead[point];
        if (s.nextNear[head] != -1) {
            s.cluster.clear();
            for (std::int32_t v = head; v != -1; v = s.nextNear[v])
                s.cluster.push_back(v);
            std::sort(s.cluster.begin(), s.cluster.end(), [&mesh](std::int32_t a, std::int32_t b) {
                return mesh.vertexEdges[a] < mesh.vertexEdges[b];
            });
            for (std::size_t i = 1; i < s.cluster.size(); ++i) {
                const std::int32_t v = s.cluster[i];
                for (std::size_t j = 0; j < i; ++j) {
                    const std::int32_t c = s.cluster[j];
                    if (s.representative[c] == c &&
                        samePoint(positionOf(c), positionOf(v), epsilonSquared)) {
                        s.representative[v] = c;
                        ++s.pointSize[c];
                        s.pointSize[v] = 0;
                        break;
                    }
                }
            }
        }
        head = -1;
    }
    s.usedPoints.clear();
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
    // The lower number stays the root, so a set's root is its lowest vertex. Most joins of paired
    // edges join a vertex to itself, and skip the walks to its root.
    void join(std::int32_t a, std::int32_t b) {
        if (a == b) return;
        a = root(a), b = root(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
};

using SharedEdge = SmoothNormalScratch::SharedEdge;

// Only edges at a point of several vertices can join two different vertices, so only they are
// paired. Their groups (edges between the same two points) are found without a hash: each edge
// goes to the bucket of its group's lower point of several vertices, and a bucket, sorted by this
// key, holds each group's edges side by side, in the faces' order. From the high bits: the
// group's other point, the face's cell, the corner, and whether the edge starts at the bucket's
// point.
constexpr int keyCornerShift = 1, keyCellShift = 26, keyOtherShift = 42;
static_assert(extendedLatticePointCount <= std::uint32_t{1} << (keyOtherShift - keyCellShift));

std::uint64_t sharedEdgeKey(std::int32_t other, std::uint32_t cell, std::int32_t corner,
                            bool fromBucketPoint) {
    return std::uint64_t(std::uint32_t(other)) << keyOtherShift |
           std::uint64_t(cell) << keyCellShift |
           std::uint64_t(std::uint32_t(corner)) << keyCornerShift | std::uint64_t(fromBucketPoint);
}

std::int32_t faceOfKey(std::uint64_t key) {
    constexpr std::uint64_t cornerMask = (std::uint64_t{1} << (keyCellShift - keyCornerShift)) - 1;
    return static_cast<std::int32_t>((key >> keyCornerShift & cornerMask) / 3);
}

// Whether `partner`, met earlier, is the edge that `edge` pairs with: it runs the other way, on
// another face.
bool pairsWith(const SharedEdge& edge, const SharedEdge& partner) {
    return ((edge.key ^ partner.key) & 1) != 0 && faceOfKey(edge.key) != faceOfKey(partner.key);
}

// The partner's end meets this edge's start and its start the end.
void joinPair(const SharedEdge& edge, const SharedEdge& partner, DisjointSets& sets) {
    sets.join(edge.from, partner.to);
    sets.join(edge.to, partner.from);
}

// Pairs the edges of one group, in the faces' order: an edge meets the first waiting edge of the
// other direction on another face. Two edges pair or not whatever their order.
void pairGroup(const SharedEdge* edges, std::size_t count, std::vector<std::int32_t>& waiting,
               DisjointSets& sets) {
    if (count == 2) {
        if (pairsWith(edges[1], edges[0])) joinPair(edges[1], edges[0], sets);
        return;
    }
    waiting.clear();
    for (std::size_t i = 0; i < count; ++i) {
        auto partner = std::find_if(waiting.begin(), waiting.end(), [&](std::int32_t other) {
            return pairsWith(edges[i], edges[other]);
        });
        if (partner == waiting.end()) {
            waiting.push_back(static_cast<std::int32_t>(i));
            continue;
        }
        joinPair(edges[i], edges[*partner], sets);
        waiting.erase(partner);
    }
}

// Pairs the face edges as the adjacency does and joins the ends of each pair, and joins the two
// ends of every edge within one point.
void joinPairedEdges(const ExtendedMesh& mesh, SmoothNormalScratch& s, DisjointSets& sets) {
    const std::vector<std::int32_t>& point = s.representative;
    const std::size_t vertexCount = point.size();
    const auto faceCount = static_cast<std::int32_t>(mesh.faceCells.size());
    assert(vertexCount < std::size_t{1} << (64 - keyOtherShift) &&
           3 * std::size_t(faceCount) < std::size_t{1} << (keyCellShift - keyCornerShift));
    // Each vertex's point's number among the points of several vertices, or -1.
    std::vector<std::int32_t>& number = s.sharedPointNumber;
    number.resize(vertexCount);
    std::int32_t sharedPoints = 0;
    for (std::size_t v = 0; v < vertexCount; ++v)
        number[v] = point[v] == std::int32_t(v) && s.pointSize[v] > 1 ? sharedPoints++ : -1;
    if (sharedPoints == 0) return;
    for (std::size_t v = 0; v < vertexCount; ++v)
        number[v] = number[point[v]];

    const std::uint32_t* indices = mesh.indices.data();
    s.sharedEdges.clear();
    for (std::int32_t f = 0; f < faceCount; ++f) {
        const std::uint32_t* face = indices + 3 * f;
        const std::int32_t numbers[3] = {number[face[0]], number[face[1]], number[face[2]]};
        if ((numbers[0] & numbers[1] & numbers[2]) < 0) continue; // no vertex at a shared point
        for (int k = 0; k < 3; ++k) {
            const int next = k == 2 ? 0 : k + 1;
            if ((numbers[k] & numbers[next]) < 0) continue;
            const std::int32_t from = point[face[k]], to = point[face[next]];
            if (from == to) {
                sets.join(std::int32_t(face[k]), std::int32_t(face[next]));
                continue;
            }
            const bool inFromBucket = numbers[k] >= 0 && (numbers[next] < 0 || from < to);
            s.sharedEdges.push_back({sharedEdgeKey(inFromBucket ? to : from, mesh.faceCells[f],
                                                   3 * f + k, inFromBucket),
                                     std::int32_t(face[k]), std::int32_t(face[next])});
        }
    }

    // The edges by bucket, then each bucket in key order, its groups one after another. An edge's
    // bucket is the number of the point at the end that the key's lowest bit names.
    auto bucketOf = [&number](const SharedEdge& edge) {
        return number[(edge.key & 1) != 0 ? edge.from : edge.to];
    };
    std::vector<std::int32_t>& ends = s.bucketEnds;
    ends.assign(static_cast<std::size_t>(sharedPoints) + 1, 0);
    for (const SharedEdge& edge : s.sharedEdges)
        ++ends[bucketOf(edge) + 1];
    for (std::int32_t b = 0; b < sharedPoints; ++b)
        ends[b + 1] += ends[b];
    s.bucketedEdges.resize(s.sharedEdges.size());
    for (const SharedEdge& edge : s.sharedEdges)
        s.bucketedEdges[ends[bucketOf(edge)]++] = edge;
    SharedEdge* edges = s.bucketedEdges.data();
    std::int32_t begin = 0;
    for (std::int32_t b = 0; b < sharedPoints; ++b) {
        const std::int32_t end = ends[b];
        std::sort(edges + begin, edges + end,
                  [](const SharedEdge& x, const SharedEdge& y) { return x.key < y.key; });
        for (std::int32_t group = begin; group < end;) {
            std::int32_t groupEnd = group + 1;
            while (groupEnd < end &&
                   edges[groupEnd].key >> keyOtherShift == edges[group].key >> keyOtherShift)
                ++groupEnd;
            if (groupEnd - group > 1)
                pairGroup(edges + group, std::size_t(groupEnd - group), s.waiting, sets);
            group = groupEnd;
        }
        begin = end;
    }
}

// ---------------------------------------------------------------------------------------------
// Sums
// ---------------------------------------------------------------------------------------------

// Weighs the run's faces and adds their weighted normals to the sums of their corners' sets, in
// the faces' order, leaving out faces of no area. `roots` holds run.count entries, the sets of
// each face's three corners; `sums` three entries per kept vertex.
void addRun(FaceRun& run, const std::int32_t (*roots)[3], int keptVertexCount, double* sums) {
    assert(run.count >= 0 && run.count <= FaceRun::length && (run.count == 0 || roots));
    weighFaces(run);
    for (int i = 0; i < run.count; ++i) {
        const double twiceArea = run.twiceAreas[i];
        if (!(twiceArea > 0.0) || !std::isfinite(twiceArea)) continue;
        for (int k = 0; k < 3; ++k) {
            if (roots[i][k] >= keptVertexCount) continue;
            const double weight = run.weights[k][i];
            double* sum = &sums[3 * static_cast<std::size_t>(roots[i][k])];
            sum[0] += weight * run.normals[0][i];
            sum[1] += weight * run.normals[1][i];
            sum[2] += weight * run.normals[2][i];
        }
    }
}

// Adds each face's angle-weighted unit normal to the sums of its corners' sets, where those are
// kept. `root` holds each vertex's set, `sums` three entries per kept vertex.
void addFaceSums(const ExtendedMesh& mesh, const std::int32_t* root, int keptVertexCount,
                 std::vector<double>& sums) {
    assert(sums.size() == 3 * static_cast<std::size_t>(keptVertexCount));
    FaceRun run{}; // zeros past a short run's last face
    std::int32_t runRoots[FaceRun::length][3];
    const double* positions = mesh.positions.data();
    const auto vertexCount = static_cast<std::uint32_t>(mesh.vertexEdges.size());
    for (std::size_t f = 0; f < mesh.faceCells.size(); ++f) {
        const std::uint32_t* face = &mesh.indices[3 * f];
        assert(face[0] < vertexCount && face[1] < vertexCount && face[2] < vertexCount);
        (void)vertexCount;
        const std::int32_t roots[3] = {root[face[0]], root[face[1]], root[face[2]]};
        if (std::min({roots[0], roots[1], roots[2]}) >= keptVertexCount) continue;
        const int i = run.count;
        for (int k = 0; k < 3; ++k) {
            const double* corner = positions + 3 * static_cast<std::size_t>(face[k]);
            run.corners[3 * k][i] = corner[0];
            run.corners[3 * k + 1][i] = corner[1];
            run.corners[3 * k + 2][i] = corner[2];
            runRoots[i][k] = roots[k];
        }
        if (++run.count == FaceRun::length) {
            addRun(run, runRoots, keptVertexCount, sums.data());
            run.count = 0;
        }
    }
    addRun(run, runRoots, keptVertexCount, sums.data());
}

} // namespace

void computeSmoothNormals(const ExtendedMesh& mesh, float epsilon, MeshVertex* kept,
                          int keptVertexCount, SmoothNormalScratch& scratch) {
    const auto vertexCount = static_cast<std::int32_t>(mesh.vertexEdges.size());
    assert(mesh.positions.size() == 3 * mesh.vertexEdges.size() &&
           mesh.indices.size() == 3 * mesh.faceCells.size());
    assert(0 <= keptVertexCount && keptVertexCount <= vertexCount &&
           (keptVertexCount == 0 || kept));
    assert(epsilon >= 0.0f && epsilon < 0.5f);
    findPoints(mesh, epsilon, scratch);

    scratch.parent.resize(static_cast<std::size_t>(vertexCount));
    std::iota(scratch.parent.begin(), scratch.parent.end(), 0);
    DisjointSets sets{scratch.parent};
    joinPairedEdges(mesh, scratch, sets);
    for (std::int32_t v = 0; v < vertexCount; ++v)
        scratch.parent[v] = sets.root(v);
    const std::int32_t* root = scratch.parent.data();

    // Only sets with a kept vertex, whose roots are kept vertices, need their sums.
    std::vector<double>& sums = scratch.sums;
    sums.assign(3 * static_cast<std::size_t>(keptVertexCount), 0.0);
    addFaceSums(mesh, root, keptVertexCount, sums);
    for (std::int32_t v = 0; v < keptVertexCount; ++v) {
        const double* sum = &sums[3 * static_cast<std::size_t>(root[v])];
        const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
        const double perLength = length > 0.0 ? 1.0 / length : 0.0;
        for (int i = 0; i < 3; ++i)
            kept[v].normal[i] = static_cast<float>(sum[i] * perLength);
    }
}
