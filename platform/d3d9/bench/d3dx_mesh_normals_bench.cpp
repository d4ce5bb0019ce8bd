// What the block worker pays per block for smooth normals: adjacency with epsilon 0.09 and
// D3DXComputeTangentFrameEx over a mesh of about 20,000 vertices and 40,000 faces (a rolling
// height field with the spacing of a terrain block's cells).
#include "platform/d3d9/d3dx9.h"
#include "platform/d3d9/tests/gl_test_support.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Vertex {
    float px, py, pz, nx, ny, nz, u, v;
};

constexpr int quadsPerSide = 140;

ID3DXMesh* makeHeightField(IDirect3DDevice9* device) {
    const int side = quadsPerSide + 1;
    std::vector<Vertex> vertices;
    for (int z = 0; z < side; ++z)
        for (int x = 0; x < side; ++x)
            vertices.push_back({float(x), 3.0f * std::sin(x * 0.2f) * std::cos(z * 0.15f), float(z),
                                0, 0, 0, 0, 0});
    std::vector<std::uint16_t> indices;
    for (int z = 0; z < quadsPerSide; ++z)
        for (int x = 0; x < quadsPerSide; ++x) {
            const auto a = std::uint16_t(z * side + x), b = std::uint16_t(a + 1);
            const auto c = std::uint16_t(a + side), d = std::uint16_t(c + 1);
            indices.insert(indices.end(), {a, c, b, b, c, d});
        }
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(DWORD(indices.size() / 3), DWORD(vertices.size()),
                                 D3DXMESH_DYNAMIC, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, device,
                                 &mesh)))
        return nullptr;
    void* data = nullptr;
    mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data);
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data);
    std::memcpy(data, indices.data(), indices.size() * sizeof(std::uint16_t));
    mesh->UnlockIndexBuffer();
    return mesh;
}

void BM_AdjacencyAndNormals(benchmark::State& state) {
    auto device = d3d9gl::test::makeHeadlessDevice(8, 8);
    ID3DXMesh* mesh = device ? makeHeightField(device.get()) : nullptr;
    if (!mesh) {
        state.SkipWithError("no device or mesh");
        return;
    }
    for (auto _ : state) {
        ID3DXBuffer* adjacency = nullptr;
        D3DXCreateBuffer(mesh->GetNumFaces() * 12, &adjacency);
        auto* faces = static_cast<DWORD*>(adjacency->GetBufferPointer());
        mesh->GenerateAdjacency(0.09f, faces);
        const HRESULT hr = D3DXComputeTangentFrameEx(
            mesh, D3DX_DEFAULT, 0, D3DX_DEFAULT, 0, D3DX_DEFAULT, 0, D3DDECLUSAGE_NORMAL, 0,
            D3DXTANGENT_CALCULATE_NORMALS | D3DXTANGENT_GENERATE_IN_PLACE, faces, -1.01f, -0.01f,
            -1.01f, nullptr, nullptr);
        benchmark::DoNotOptimize(hr);
        adjacency->Release();
    }
    state.counters["faces"] = mesh->GetNumFaces();
    state.counters["vertices"] = mesh->GetNumVertices();
    mesh->Release();
}
BENCHMARK(BM_AdjacencyAndNormals)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
