// Meshes created, filled, cloned and released on worker threads while the main thread draws
// the finished ones: the picture read back must hold every mesh where and as it was made.
#include "platform/d3d9/d3dx9.h"
#include "platform/d3d9/gl_device.h"
#include "platform/d3d9/tests/gl_test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using d3d9gl::test::Ref;

constexpr UINT targetSize = 64;
constexpr int cellsPerSide = 4; // 16 cells of 16 x 16 pixels, one mesh each
constexpr int workers = 2;
constexpr int cellsPerWorker = cellsPerSide * cellsPerSide / workers;

struct Vertex {
    float px, py, pz;
    float nx, ny, nz;
    float u, v;
};

const D3DVERTEXELEMENT9 meshDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

// The colour a cell's mesh carries in its attributes: red and green in the texture coordinate,
// blue in the normal's z.
struct Colour {
    std::uint8_t r, g, b;
};
Colour cellColour(int cell) {
    return {std::uint8_t(40 + 12 * cell), std::uint8_t(250 - 10 * cell), std::uint8_t(16 * cell)};
}

// Pixels 2..13 of the cell's 16 x 16 square, as two clockwise triangles in clip space. The
// edges lie halfway between pixel centres, so no fill-rule tie decides the picture.
void cellQuad(int cell, Vertex out[4]) {
    const int cx = cell % cellsPerSide, cy = cell / cellsPerSide;
    const float pixel = 2.0f / targetSize;
    const float left = -1.0f + (16 * cx + 1.5f) * pixel, right = left + 12 * pixel;
    const float top = 1.0f - (16 * cy + 1.5f) * pixel, bottom = top - 12 * pixel;
    const Colour c = cellColour(cell);
    const float u = c.r / 255.0f, v = c.g / 255.0f, nz = c.b / 255.0f;
    out[0] = {left, top, 0.5f, 0, 0, nz, u, v};
    out[1] = {right, top, 0.5f, 0, 0, nz, u, v};
    out[2] = {left, bottom, 0.5f, 0, 0, nz, u, v};
    out[3] = {right, bottom, 0.5f, 0, 0, nz, u, v};
}

// What the block worker does with a mesh: create it from the FVF, fill it through locks, clone
// it into the declaration and release the original. Returns the clone.
ID3DXMesh* buildCellMesh(IDirect3DDevice9* device, int cell) {
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(2, 4, D3DXMESH_DYNAMIC, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1,
                                 device, &mesh)))
        return nullptr;
    void* data = nullptr;
    if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data))) {
        Vertex quad[4];
        cellQuad(cell, quad);
        std::memcpy(data, quad, sizeof quad);
        mesh->UnlockVertexBuffer();
    }
    if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data))) {
        const std::uint16_t indices[6] = {0, 1, 2, 1, 3, 2};
        std::memcpy(data, indices, sizeof indices);
        mesh->UnlockIndexBuffer();
    }
    ID3DXMesh* clone = nullptr;
    mesh->CloneMesh(D3DXMESH_DYNAMIC, meshDeclaration, device, &clone);
    mesh->Release();
    return clone;
}

constexpr const char* vertexShader = R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texcoord;
uniform vec2 d3d9_pixelOffset;
out vec3 colour;
void main() {
    colour = vec3(texcoord, normal.z);
    gl_Position = vec4(position, 1.0);
    gl_Position.xy += d3d9_pixelOffset * gl_Position.w;
}
)";
constexpr const char* fragmentShader = R"(
in vec3 colour;
out vec4 fragment;
void main() { fragment = vec4(colour, 1.0); }
)";

TEST(D3DXMeshThreads, MeshesBuiltOnWorkersDrawOnTheMainThread) {
    Ref<IDirect3DDevice9> device = d3d9gl::test::makeHeadlessDevice(targetSize, targetSize);
    ASSERT_TRUE(device);
    const UINT live = d3d9gl::liveDefaultPoolObjects(device.get());
    std::string log;
    const GLuint program =
        d3d9gl::test::compileProgram(device.get(), vertexShader, fragmentShader, &log);
    ASSERT_NE(program, 0u) << log;
    d3d9gl::setProgram(device.get(), program);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), S_OK);

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<int, ID3DXMesh*>> finished;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&, w] {
            for (int n = 0; n < cellsPerWorker; ++n) {
                const int cell = w * cellsPerWorker + n;
                ID3DXMesh* mesh = buildCellMesh(device.get(), cell);
                const std::lock_guard lock(mutex);
                finished.emplace_back(cell, mesh);
                ready.notify_one();
            }
        });

    // Draw each mesh as it arrives, while the workers go on making the others.
    std::vector<ID3DXMesh*> drawn;
    for (int n = 0; n < workers * cellsPerWorker; ++n) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return !finished.empty(); });
        const auto [cell, mesh] = finished.front();
        finished.pop_front();
        lock.unlock();
        ASSERT_NE(mesh, nullptr) << "cell " << cell;
        EXPECT_EQ(mesh->GetNumFaces(), 2u);
        EXPECT_EQ(mesh->GetNumVertices(), 4u);
        EXPECT_EQ(mesh->DrawSubset(0), S_OK);
        drawn.push_back(mesh);
    }
    for (std::thread& thread : threads)
        thread.join();

    std::vector<std::uint8_t> pixels;
    ASSERT_EQ(d3d9gl::readBackBuffer(device.get(), pixels), S_OK);
    ASSERT_EQ(pixels.size(), 4u * targetSize * targetSize);
    auto pixel = [&](int x, int y) { return &pixels[4 * (std::size_t(y) * targetSize + x)]; };
    for (int cell = 0; cell < cellsPerSide * cellsPerSide; ++cell) {
        const int x0 = 16 * (cell % cellsPerSide), y0 = 16 * (cell / cellsPerSide);
        const Colour expected = cellColour(cell);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const std::uint8_t* p = pixel(x0 + x, y0 + y);
                const bool inside = x >= 2 && x < 14 && y >= 2 && y < 14;
                const Colour want = inside ? expected : Colour{0, 0, 0};
                ASSERT_LE(std::abs(p[0] - want.r), 1) << "cell " << cell << " at " << x << "," << y;
                ASSERT_LE(std::abs(p[1] - want.g), 1) << "cell " << cell << " at " << x << "," << y;
                ASSERT_LE(std::abs(p[2] - want.b), 1) << "cell " << cell << " at " << x << "," << y;
            }
    }

    for (ID3DXMesh* mesh : drawn)
        mesh->Release();
    d3d9gl::setProgram(device.get(), 0);
    d3d9gl::test::deleteProgram(device.get(), program);
    // The originals released on the workers and the clones released here are all gone.
    EXPECT_EQ(d3d9gl::liveDefaultPoolObjects(device.get()), live);
}

} // namespace
