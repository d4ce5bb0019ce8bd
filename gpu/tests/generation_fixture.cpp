#include "gpu/tests/generation_fixture.h"

#include "app/tests/headless_program.h"
#include "cpu/block_worker.h"
#include "gpu/block_generation.h"
#include "platform/d3d9/d3dx9.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <tuple>

namespace gorvane::test {

namespace {

Triangle triangleAt(const MeshVertex* vertices, const std::uint16_t* indices, std::size_t face) {
    Triangle triangle{};
    for (int k = 0; k < 3; ++k)
        for (int axis = 0; axis < 3; ++axis)
            triangle[k][axis] = vertices[indices[3 * face + k]].position[axis];
    return triangle;
}

bool close(const std::array<float, 3>& a, const std::array<float, 3>& b, float tolerance) {
    for (int axis = 0; axis < 3; ++axis)
        if (!(std::fabs(a[axis] - b[axis]) <= tolerance)) return false;
    return true;
}

// Same vertices in the same cyclic order.
bool sameTriangle(const Triangle& a, const Triangle& b, float tolerance) {
    for (int shift = 0; shift < 3; ++shift) {
        bool all = true;
        for (int k = 0; k < 3 && all; ++k)
            all = close(a[k], b[(k + shift) % 3], tolerance);
        if (all) return true;
    }
    return false;
}

using CellKey = std::tuple<int, int, int>;

CellKey centroidCell(const Triangle& t, float cellSize) {
    auto axis = [&](int a) {
        return static_cast<int>(std::floor((t[0][a] + t[1][a] + t[2][a]) / 3.0f / cellSize));
    };
    return {axis(0), axis(1), axis(2)};
}

} // namespace

bool startProgramHeadless(int width, int height) {
    static bool started = false;
    if (started) return true;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (headless_program::start(size.c_str()) != StartUpOutcome::running) {
        ADD_FAILURE() << "start-up did not come to the main loop";
        return false;
    }
    started = true;
    return true;
}

std::vector<Triangle> stagedTriangles(int slot) {
    std::vector<Triangle> triangles;
    void* vertices = nullptr;
    void* indices = nullptr;
    StagingBuffers& staging = WorkerStagingBuffers[slot];
    if (FAILED(staging.vertices->Lock(0, 0, &vertices, D3DLOCK_READONLY))) return triangles;
    if (SUCCEEDED(staging.indices->Lock(0, 0, &indices, D3DLOCK_READONLY))) {
        for (int f = 0; f < SlotCpuTriangleCounts[slot]; ++f)
            triangles.push_back(triangleAt(static_cast<const MeshVertex*>(vertices),
                                           static_cast<const std::uint16_t*>(indices), f));
        staging.indices->Unlock();
    }
    staging.vertices->Unlock();
    return triangles;
}

std::vector<Triangle> meshTriangles(ID3DXMesh* mesh) {
    std::vector<Triangle> triangles;
    if (mesh == nullptr) return triangles;
    void* vertices = nullptr;
    void* indices = nullptr;
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertices))) return triangles;
    if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &indices))) {
        for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
            triangles.push_back(triangleAt(static_cast<const MeshVertex*>(vertices),
                                           static_cast<const std::uint16_t*>(indices), f));
        mesh->UnlockIndexBuffer();
    }
    mesh->UnlockVertexBuffer();
    return triangles;
}

bool sameTriangleSets(const std::vector<Triangle>& a, const std::vector<Triangle>& b,
                      float tolerance, std::string* why) {
    if (a.size() != b.size()) {
        *why = std::to_string(a.size()) + " triangles against " + std::to_string(b.size());
        return false;
    }
    // Centroids move by at most the tolerance, so a partner lies in a neighbouring cell.
    const float cellSize = 0.25f;
    std::multimap<CellKey, std::size_t> unmatched;
    for (std::size_t i = 0; i < b.size(); ++i)
        unmatched.emplace(centroidCell(b[i], cellSize), i);
    for (const Triangle& triangle : a) {
        const auto [cx, cy, cz] = centroidCell(triangle, cellSize);
        bool found = false;
        for (int dx = -1; dx <= 1 && !found; ++dx)
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dz = -1; dz <= 1 && !found; ++dz) {
                    auto [first, last] = unmatched.equal_range({cx + dx, cy + dy, cz + dz});
                    for (auto it = first; it != last; ++it)
                        if (sameTriangle(triangle, b[it->second], tolerance)) {
                            unmatched.erase(it);
                            found = true;
                            break;
                        }
                }
        if (!found) {
            *why = "no partner for the triangle at (" + std::to_string(triangle[0][0]) + ", " +
                   std::to_string(triangle[0][1]) + ", " + std::to_string(triangle[0][2]) + ")";
            return false;
        }
    }
    return true;
}

std::int32_t generateIn(CalculationModeValue mode, BlockJob job) {
    CalculationMode.store(mode);
    generateBlockOnGpu(job);
    return SlotTriangleCounts[job.slot];
}

std::pair<std::int32_t, std::int32_t> workBlock(CalculationModeValue mode, BlockJob job) {
    CalculationMode.store(mode);
    BlockRange range{job.x, job.y, job.z, job.x + 1, job.y + 1, job.z + 1, job.slot};
    blockWorker(&range);
    const int i = blockIndex(job.x, job.y, job.z);
    return {BlockVertexCounts[i].load(), BlockTriangleCounts[i].load()};
}

} // namespace gorvane::test
