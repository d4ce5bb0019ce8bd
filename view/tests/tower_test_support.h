// The program started in-process on a small headless engine, and what the tower tests read of
// the per-block arrays.
#pragma once

#include "app/tests/headless_program.h"
#include "cpu/block_worker.h"
#include "platform/d3d9/d3dx9.h"
#include "terrain/terrain_state.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

// Starts the program headless on a 64 x 64 back buffer, with `options` added to the command
// line (e.g. "--keys", "9:C").
inline void startProgram(std::vector<std::string> options = {}) {
    ASSERT_EQ(headless_program::startOver(GORVANE_DATA_DIR, "64x64", std::move(options)),
              StartUpOutcome::running);
}

struct TowerCounts {
    std::array<std::int32_t, towerBlockCount> vertices{};
    std::array<std::int32_t, towerBlockCount> triangles{};

    std::int64_t totalVertices() const {
        std::int64_t sum = 0;
        for (std::int32_t v : vertices)
            sum += v;
        return sum;
    }
    std::int64_t totalTriangles() const {
        std::int64_t sum = 0;
        for (std::int32_t t : triangles)
            sum += t;
        return sum;
    }
};

// The counts of every block; a block without triangles counts 0 vertices, as it is not drawn.
inline TowerCounts towerCounts() {
    TowerCounts counts;
    for (int i = 0; i < towerBlockCount; ++i) {
        counts.triangles[i] = BlockTriangleCounts[i].load();
        counts.vertices[i] = counts.triangles[i] > 0 ? BlockVertexCounts[i].load() : 0;
    }
    return counts;
}

// Every block with triangles holds a mesh of exactly its counts.
inline void expectMeshesMatchCounts() {
    for (int i = 0; i < towerBlockCount; ++i) {
        const std::int32_t triangles = BlockTriangleCounts[i].load();
        if (triangles <= 0) continue;
        ASSERT_NE(BlockMeshes[i], nullptr) << "block " << i;
        EXPECT_EQ(BlockMeshes[i]->GetNumFaces(), static_cast<DWORD>(triangles)) << "block " << i;
        EXPECT_EQ(BlockMeshes[i]->GetNumVertices(), static_cast<DWORD>(BlockVertexCounts[i].load()))
            << "block " << i;
    }
}

// Both workers over `ranges` in `mode`, as tower creation starts them, with no frames in between.
inline void runWorkersOver(const BlockRange (&ranges)[workerCount], std::int32_t mode) {
    CalculationMode.store(mode);
    HANDLE workers[workerCount];
    for (int t = 0; t < workerCount; ++t) {
        BlockRanges[t] = ranges[t];
        workers[t] = CreateThread(nullptr, 0, blockWorker, &BlockRanges[t], 0, nullptr);
        ASSERT_NE(workers[t], nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(workerCount, workers, TRUE, INFINITE), WAIT_OBJECT_0);
    for (HANDLE worker : workers)
        CloseHandle(worker);
}

// The state of a program that has not built a tower yet.
inline void emptyEveryBlock() {
    for (int i = 0; i < towerBlockCount; ++i) {
        BlockTriangleCounts[i].store(0);
        BlockVertexCounts[i].store(0);
        if (BlockMeshes[i]) BlockMeshes[i]->Release();
        BlockMeshes[i] = nullptr;
    }
}
