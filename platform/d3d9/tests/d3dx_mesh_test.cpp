// Meshes on a headless device: creation limits, layouts, cloning, adjacency and the smooth
// normals of D3DXComputeTangentFrameEx, checked against geometry computed here.
#include "platform/d3d9/d3dx9.h"
#include "platform/d3d9/gl_device.h"
#include "platform/d3d9/mesh_geometry.h"
#include "platform/d3d9/tests/gl_test_support.h"
#include "platform/d3d9/tests/refusal_of.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

using d3d9gl::Refusal;
using d3d9gl::refusalOf;

// The 32-byte vertex of D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1.
struct Vertex {
    float px, py, pz;
    float nx, ny, nz;
    float u, v;
};
Vertex at(float x, float y, float z) {
    return {x, y, z, 0, 0, 0, 0, 0};
}

constexpr DWORD vertexFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
const D3DVERTEXELEMENT9 vertexDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

// The options and arguments of the block worker's normal computation.
HRESULT computeNormals(ID3DXMesh* mesh, const DWORD* adjacency) {
    return D3DXComputeTangentFrameEx(mesh, D3DX_DEFAULT, 0, D3DX_DEFAULT, 0, D3DX_DEFAULT, 0,
                                     D3DDECLUSAGE_NORMAL, 0,
                                     D3DXTANGENT_CALCULATE_NORMALS | D3DXTANGENT_GENERATE_IN_PLACE,
                                     adjacency, -1.01f, -0.01f, -1.01f, nullptr, nullptr);
}

class D3DXMeshTest : public testing::Test {
  protected:
    void SetUp() override {
        deviceRef = d3d9gl::test::makeHeadlessDevice(8, 8);
        ASSERT_TRUE(deviceRef);
        device = deviceRef.get();
    }

    ID3DXMesh* makeMesh(const std::vector<Vertex>& vertices,
                        const std::vector<std::uint16_t>& indices) {
        ID3DXMesh* mesh = nullptr;
        EXPECT_EQ(D3DXCreateMeshFVF(DWORD(indices.size() / 3), DWORD(vertices.size()),
                                    D3DXMESH_DYNAMIC, vertexFVF, device, &mesh),
                  S_OK);
        void* data = nullptr;
        EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data), S_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
        EXPECT_EQ(mesh->UnlockVertexBuffer(), S_OK);
        EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data), S_OK);
        std::memcpy(data, indices.data(), indices.size() * sizeof(std::uint16_t));
        EXPECT_EQ(mesh->UnlockIndexBuffer(), S_OK);
        return mesh;
    }

    static std::vector<Vertex> vertices(ID3DXMesh* mesh) {
        std::vector<Vertex> out(mesh->GetNumVertices());
        void* data = nullptr;
        EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), S_OK);
        std::memcpy(out.data(), data, out.size() * sizeof(Vertex));
        mesh->UnlockVertexBuffer();
        return out;
    }

    static std::vector<DWORD> adjacency(ID3DXMesh* mesh, float epsilon) {
        std::vector<DWORD> out(3 * mesh->GetNumFaces(), 0x12345678u);
        EXPECT_EQ(mesh->GenerateAdjacency(epsilon, out.data()), S_OK);
        return out;
    }

    d3d9gl::test::Ref<IDirect3DDevice9> deviceRef;
    IDirect3DDevice9* device = nullptr;
};

TEST_F(D3DXMeshTest, CreationChecksCountsOptionsAndLayouts) {
    ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(1);
    const D3DVERTEXELEMENT9 secondStream[] = {
        {1, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    // 16-bit indices address at most 65,535 vertices.
    const DWORD tooMany = 65536;
    const struct {
        DWORD faces, vertices, options, fvf;
        const D3DVERTEXELEMENT9* declaration; // instead of the FVF where not null
        IDirect3DDevice9* device;
        Refusal cause;
    } refused[] = {
        {0, 3, D3DXMESH_DYNAMIC, vertexFVF, nullptr, device, Refusal::NoFacesOrVertices},
        {1, 0, D3DXMESH_DYNAMIC, vertexFVF, nullptr, device, Refusal::NoFacesOrVertices},
        {1, tooMany, D3DXMESH_DYNAMIC, vertexFVF, nullptr, device, Refusal::TooManyVertices},
        {1, tooMany, D3DXMESH_DYNAMIC, 0, vertexDeclaration, device, Refusal::TooManyVertices},
        {1, 3, 0x001 /* D3DXMESH_32BIT */, vertexFVF, nullptr, device,
         Refusal::UnsupportedMeshOptions},
        {1, 3, D3DXMESH_DYNAMIC, D3DFVF_NORMAL, nullptr, device, Refusal::UnsupportedFvf},
        {1, 3, D3DXMESH_DYNAMIC, vertexFVF, nullptr, nullptr, Refusal::NoDevice},
        {1, 3, D3DXMESH_DYNAMIC, 0, secondStream, device, Refusal::UnsupportedDeclaration},
    };
    for (const auto& c : refused) {
        mesh = reinterpret_cast<ID3DXMesh*>(1);
        const HRESULT result =
            c.declaration
                ? D3DXCreateMesh(c.faces, c.vertices, c.options, c.declaration, c.device, &mesh)
                : D3DXCreateMeshFVF(c.faces, c.vertices, c.options, c.fvf, c.device, &mesh);
        EXPECT_EQ(refusalOf(result), c.cause) << c.faces << " faces, " << c.vertices << " vertices";
        EXPECT_EQ(mesh, nullptr);
    }

    const UINT live = d3d9gl::liveDefaultPoolObjects(device);
    ASSERT_EQ(D3DXCreateMeshFVF(21845, 65535, D3DXMESH_DYNAMIC, vertexFVF, device, &mesh), S_OK);
    EXPECT_EQ(mesh->GetNumFaces(), 21845u);
    EXPECT_EQ(mesh->GetNumVertices(), 65535u);
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), 32u);
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(mesh->GetDeclaration(declaration), S_OK);
    // The FVF gives the layout of the block vertex: position, normal, texture coordinate.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(declaration[i].Stream, vertexDeclaration[i].Stream) << i;
        EXPECT_EQ(declaration[i].Offset, vertexDeclaration[i].Offset) << i;
        EXPECT_EQ(declaration[i].Type, vertexDeclaration[i].Type) << i;
        EXPECT_EQ(declaration[i].Usage, vertexDeclaration[i].Usage) << i;
    }
    // Its vertex and index buffers are default-pool objects until the mesh is released.
    EXPECT_EQ(d3d9gl::liveDefaultPoolObjects(device), live + 2);
    EXPECT_EQ(mesh->AddRef(), 2u);
    EXPECT_EQ(mesh->Release(), 1u);
    EXPECT_EQ(mesh->Release(), 0u);
    EXPECT_EQ(d3d9gl::liveDefaultPoolObjects(device), live);
}

TEST_F(D3DXMeshTest, CloneMovesEachElementToItsNewPlaceAndKeepsTheFaces) {
    const std::vector<Vertex> source = {{1, 2, 3, 0, 0, 1, 0.25f, 0.5f},
                                        {4, 5, 6, 0, 1, 0, 0.75f, 1.0f},
                                        {7, 8, 9, 1, 0, 0, -1.0f, 2.0f}};
    ID3DXMesh* mesh = makeMesh(source, {0, 2, 1});
    // Texture coordinate first, a colour the source lacks, position, no normal.
    const D3DVERTEXELEMENT9 reordered[] = {
        {0, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 8, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END()};
    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(mesh->CloneMesh(D3DXMESH_DYNAMIC, reordered, device, &clone), S_OK);
    ASSERT_EQ(clone->GetNumFaces(), 1u);
    ASSERT_EQ(clone->GetNumVertices(), 3u);
    ASSERT_EQ(clone->GetNumBytesPerVertex(), 24u);
    void* data = nullptr;
    ASSERT_EQ(clone->LockVertexBuffer(D3DLOCK_READONLY, &data), S_OK);
    for (int v = 0; v < 3; ++v) {
        float out[6];
        std::memcpy(out, static_cast<const std::uint8_t*>(data) + 24 * v, 8);
        std::memcpy(out + 2, static_cast<const std::uint8_t*>(data) + 24 * v + 12, 12);
        std::uint32_t colour;
        std::memcpy(&colour, static_cast<const std::uint8_t*>(data) + 24 * v + 8, 4);
        EXPECT_EQ(out[0], source[v].u);
        EXPECT_EQ(out[1], source[v].v);
        EXPECT_EQ(colour, 0u);
        EXPECT_EQ(out[2], source[v].px);
        EXPECT_EQ(out[3], source[v].py);
        EXPECT_EQ(out[4], source[v].pz);
    }
    clone->UnlockVertexBuffer();
    ASSERT_EQ(clone->LockIndexBuffer(D3DLOCK_READONLY, &data), S_OK);
    const auto* indices = static_cast<const std::uint16_t*>(data);
    EXPECT_EQ(indices[0], 0);
    EXPECT_EQ(indices[1], 2);
    EXPECT_EQ(indices[2], 1);
    clone->UnlockIndexBuffer();
    clone->Release();

    // A usage present in both layouts with different types cannot be copied.
    const D3DVERTEXELEMENT9 widerPosition[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_EQ(refusalOf(mesh->CloneMesh(D3DXMESH_DYNAMIC, widerPosition, device, &clone)),
              Refusal::ElementChangesType);
    EXPECT_EQ(clone, nullptr);
    mesh->Release();
}

TEST_F(D3DXMeshTest, AdjacencyJoinsVerticesCloserThanEpsilonAndNoFarther) {
    // Triangle 0 = (a, b, c); triangle 1 = (b', a', d) runs the edge back, with a' and b' moved
    // away from a and b by `gap`.
    // The corners sit just below whole multiples of 0.18 (twice the larger epsilon) on every
    // axis, so that the moved copies lie across the borders of a grid of that spacing.
    auto twoTriangles = [this](float gap) {
        const float s = gap / std::sqrt(3.0f); // the gap along (1, 1, 1)
        auto p = [](float x, float y, float z) { return at(x + 0.17f, y - 0.01f, z + 0.35f); };
        return makeMesh(
            {p(0, 0, 0), p(1, 0, 0), p(0, 1, 0), p(1 + s, s, s), p(s, s, s), p(1, -1, 0)},
            {0, 1, 2, 3, 4, 5});
    };
    const DWORD none = 0xFFFFFFFFu;
    for (const auto& [gap, epsilon, joined] :
         {std::tuple{0.05f, 0.09f, true}, std::tuple{0.08f, 0.09f, true},
          std::tuple{0.1f, 0.09f, false}, std::tuple{0.05f, 0.04f, false},
          std::tuple{0.0f, 0.0f, true}}) {
        SCOPED_TRACE(testing::Message() << "gap " << gap << ", epsilon " << epsilon);
        ID3DXMesh* mesh = twoTriangles(gap);
        const std::vector<DWORD> expected =
            joined ? std::vector<DWORD>{1, none, none, 0, none, none} : std::vector<DWORD>(6, none);
        EXPECT_EQ(adjacency(mesh, epsilon), expected);
        mesh->Release();
    }

    // Edges that run the same way (inconsistent winding) are not joined.
    ID3DXMesh* flipped =
        makeMesh({at(0, 0, 0), at(1, 0, 0), at(0, 1, 0), at(1, -1, 0)}, {0, 1, 2, 0, 1, 3});
    EXPECT_EQ(adjacency(flipped, 0.0f), std::vector<DWORD>(6, none));
    std::vector<DWORD> unused(6);
    EXPECT_EQ(refusalOf(flipped->GenerateAdjacency(-0.5f, unused.data())),
              Refusal::NegativeEpsilon);
    EXPECT_EQ(refusalOf(flipped->GenerateAdjacency(0.1f, nullptr)), Refusal::NoAdjacencyArray);
    flipped->Release();
}

// A UV sphere of unit radius around the origin, wound so that cross(p1 - p0, p2 - p0) points
// outwards. Its vertices are not welded by index: the seam column is stored twice (the copy
// moved by `seamGap` along x) and each pole triangle has its own pole vertex.
struct Sphere {
    std::vector<Vertex> vertices;
    std::vector<std::uint16_t> indices;
};

Sphere uvSphere(int rings, int segments, float seamGap) {
    Sphere sphere;
    auto point = [&](int ring, int segment) {
        const double theta = std::numbers::pi * ring / rings;
        const double phi = 2 * std::numbers::pi * (segment % segments) / segments;
        Vertex v{float(std::sin(theta) * std::cos(phi)),
                 float(std::cos(theta)),
                 float(std::sin(theta) * std::sin(phi)),
                 0,
                 0,
                 0,
                 0,
                 0};
        if (segment == segments) v.px += seamGap;
        return v;
    };
    const auto northPoles = std::uint16_t(sphere.vertices.size());
    for (int s = 0; s < segments; ++s)
        sphere.vertices.push_back(point(0, 0));
    const auto firstRing = std::uint16_t(sphere.vertices.size());
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s <= segments; ++s)
            sphere.vertices.push_back(point(r, s));
    const auto southPoles = std::uint16_t(sphere.vertices.size());
    for (int s = 0; s < segments; ++s)
        sphere.vertices.push_back(point(rings, 0));

    auto ring = [&](int r, int s) {
        return std::uint16_t(firstRing + (r - 1) * (segments + 1) + s);
    };
    auto add = [&](std::uint16_t a, std::uint16_t b, std::uint16_t c) {
        sphere.indices.insert(sphere.indices.end(), {a, b, c});
    };
    for (int s = 0; s < segments; ++s) {
        add(std::uint16_t(northPoles + s), ring(1, s + 1), ring(1, s));
        for (int r = 1; r + 1 < rings; ++r) {
            add(ring(r, s), ring(r, s + 1), ring(r + 1, s));
            add(ring(r, s + 1), ring(r + 1, s + 1), ring(r + 1, s));
        }
        add(ring(rings - 1, s), ring(rings - 1, s + 1), std::uint16_t(southPoles + s));
    }
    return sphere;
}

double degreesBetween(const Vertex& v) {
    const double n = std::sqrt(double(v.nx) * v.nx + double(v.ny) * v.ny + double(v.nz) * v.nz);
    const double p = std::sqrt(double(v.px) * v.px + double(v.py) * v.py + double(v.pz) * v.pz);
    const double c = (double(v.nx) * v.px + double(v.ny) * v.py + double(v.nz) * v.pz) / (n * p);
    return std::acos(std::clamp(c, -1.0, 1.0)) * 180 / std::numbers::pi;
}

TEST(MeshGeometry, FoldedFacesJoinEachCornerWithItsOwnCopyOnly) {
    // Face 1 is face 0 turned over, on copies of its vertices: each of its three edges runs one
    // of face 0's back, so the two faces name each other three times, and each corner must join
    // the copy at its own position, not the ends of another shared edge.
    const Vertex vertices[] = {at(0, 0, 0), at(1, 0, 0), at(0, 1, 0),
                               at(1, 0, 0), at(0, 0, 0), at(0, 1, 0)};
    const std::uint16_t indices[] = {0, 1, 2, 3, 4, 5};
    const d3dx::TriangleMesh mesh{
        reinterpret_cast<const std::uint8_t*>(vertices), 6, sizeof(Vertex), 0, indices, 2};
    DWORD adjacent[6];
    d3dx::faceAdjacency(mesh, d3dx::pointRepresentatives(mesh, 0.0f), adjacent);
    EXPECT_EQ(std::vector<DWORD>(adjacent, adjacent + 6), (std::vector<DWORD>{1, 1, 1, 0, 0, 0}));
    std::vector<std::uint32_t> joined;
    ASSERT_TRUE(d3dx::adjacencyRepresentatives(mesh, adjacent, joined));
    EXPECT_EQ(joined, (std::vector<std::uint32_t>{0, 1, 2, 1, 0, 2}));
}

TEST_F(D3DXMeshTest, SphereNormalsFollowTheSurfaceAcrossSeamsAndPoles) {
    const Sphere sphere = uvSphere(16, 32, 0.0f);
    ID3DXMesh* mesh = makeMesh(sphere.vertices, sphere.indices);

    // Closed: once coinciding vertices are one point, every edge has a partner, both ways.
    ID3DXBuffer* buffer = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(mesh->GetNumFaces() * 12, &buffer), S_OK);
    auto* adjacent = static_cast<DWORD*>(buffer->GetBufferPointer());
    ASSERT_EQ(mesh->GenerateAdjacency(0.01f, adjacent), S_OK);
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD g = adjacent[3 * f + k];
            ASSERT_LT(g, mesh->GetNumFaces()) << "face " << f << " edge " << k;
            EXPECT_TRUE(adjacent[3 * g] == f || adjacent[3 * g + 1] == f ||
                        adjacent[3 * g + 2] == f);
        }

    ASSERT_EQ(computeNormals(mesh, adjacent), S_OK);
    buffer->Release();
    const std::vector<Vertex> result = vertices(mesh);
    double worst = 0;
    for (const Vertex& v : result) {
        EXPECT_NEAR(std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz), 1.0, 1e-5);
        worst = std::max(worst, degreesBetween(v));
    }
    EXPECT_LT(worst, 2.0);
    // Copies of one point carry one normal: the seam columns and the pole vertices.
    auto sameNormal = [](const Vertex& a, const Vertex& b) {
        return a.nx == b.nx && a.ny == b.ny && a.nz == b.nz;
    };
    for (int s = 1; s < 32; ++s) {
        EXPECT_TRUE(sameNormal(result[0], result[s])) << "north pole copy " << s;
        EXPECT_TRUE(sameNormal(result[result.size() - 1], result[result.size() - 1 - s]));
    }
    for (int r = 0; r < 15; ++r)
        EXPECT_TRUE(sameNormal(result[32 + 33 * r], result[32 + 33 * r + 32])) << "seam " << r;
    mesh->Release();
}

TEST_F(D3DXMeshTest, NormalsSmoothOnlyAcrossEdgesTheAdjacencyJoins) {
    // The seam copies sit 0.001 away from the seam: with an adjacency that joins them the
    // sphere is smooth there; with one that does not, each side keeps its own normal.
    const Sphere sphere = uvSphere(16, 32, 0.001f);
    ID3DXMesh* mesh = makeMesh(sphere.vertices, sphere.indices);
    auto seamWorst = [&](float epsilon) {
        const std::vector<DWORD> adjacent = adjacency(mesh, epsilon);
        EXPECT_EQ(computeNormals(mesh, adjacent.data()), S_OK);
        const std::vector<Vertex> result = vertices(mesh);
        double worst = 0;
        for (int r = 0; r < 15; ++r)
            worst = std::max({worst, degreesBetween(result[32 + 33 * r]),
                              degreesBetween(result[32 + 33 * r + 32])});
        return worst;
    };
    EXPECT_LT(seamWorst(0.01f), 2.0);
    EXPECT_GT(seamWorst(0.0001f), 4.0); // half a segment's turn, 5.6 degrees, on each side
    // Without an adjacency only exactly coinciding positions are one point.
    ASSERT_EQ(computeNormals(mesh, nullptr), S_OK);
    const std::vector<Vertex> result = vertices(mesh);
    const int equatorSeam = 32 + 33 * 7;
    EXPECT_GT(degreesBetween(result[equatorSeam]), 4.0);
    EXPECT_LT(degreesBetween(result[0]), 2.0); // the pole copies coincide exactly
    mesh->Release();
}

TEST_F(D3DXMeshTest, FaceNormalsAreWeightedByTheirAngleAtTheVertex) {
    // Two faces meet along o-p: one in the plane z = 0 with 90 degrees at o and 45 at p, one in
    // the plane x = 0 with 45 degrees at o and 90 at p.
    ID3DXMesh* mesh =
        makeMesh({at(0, 0, 0), at(0, 1, 0), at(1, 0, 0), at(0, 1, 1)}, {0, 1, 2, 0, 3, 1});
    ASSERT_EQ(computeNormals(mesh, adjacency(mesh, 0.0f).data()), S_OK);
    const std::vector<Vertex> result = vertices(mesh);
    // Face normals: cross(p - o, q - o) = (0, 0, -1) and cross(r - o, p - o) = (-1, 0, 0).
    const float s5 = std::sqrt(5.0f);
    EXPECT_NEAR(result[0].nx, -1 / s5, 1e-6);
    EXPECT_NEAR(result[0].ny, 0, 1e-6);
    EXPECT_NEAR(result[0].nz, -2 / s5, 1e-6);
    EXPECT_NEAR(result[1].nx, -2 / s5, 1e-6);
    EXPECT_NEAR(result[1].nz, -1 / s5, 1e-6);
    EXPECT_NEAR(result[2].nz, -1, 1e-6);
    EXPECT_NEAR(result[3].nx, -1, 1e-6);
    mesh->Release();
}

TEST_F(D3DXMeshTest, TangentFrameRefusesWhatItDoesNotImplementAndChangesNothing) {
    const Vertex marked{0, 0, 0, 9, 9, 9, 0, 0};
    std::vector<Vertex> triangle = {marked, marked, marked};
    triangle[1].px = 1;
    triangle[2].py = 1;
    ID3DXMesh* mesh = makeMesh(triangle, {0, 1, 2});
    ID3DXMesh* out = nullptr;
    ID3DXBuffer* mapping = nullptr;
    const DWORD normals = D3DXTANGENT_CALCULATE_NORMALS;
    const DWORD inPlace = D3DXTANGENT_GENERATE_IN_PLACE;
    const DWORD d = D3DX_DEFAULT;
    const std::vector<Refusal> causes = {
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 0, normals,
                                            nullptr, -1, -1, -1, nullptr, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 0,
                                            normals | inPlace, nullptr, -1, -1, -1, &out, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 0,
                                            normals | inPlace | D3DXTANGENT_WEIGHT_BY_AREA, nullptr,
                                            -1, -1, -1, nullptr, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 0,
                                            normals | inPlace | D3DXTANGENT_WIND_CW, nullptr, -1,
                                            -1, -1, nullptr, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, D3DDECLUSAGE_TEXCOORD, 0, d, 0, d, 0,
                                            D3DDECLUSAGE_NORMAL, 0, normals | inPlace, nullptr, -1,
                                            -1, -1, nullptr, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, D3DDECLUSAGE_TANGENT, 0, d, 0,
                                            D3DDECLUSAGE_NORMAL, 0, normals | inPlace, nullptr, -1,
                                            -1, -1, nullptr, nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 1,
                                            normals | inPlace, nullptr, -1, -1, -1, nullptr,
                                            nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_TEXCOORD, 0,
                                            normals | inPlace, nullptr, -1, -1, -1, nullptr,
                                            nullptr)),
        refusalOf(D3DXComputeTangentFrameEx(mesh, d, 0, d, 0, d, 0, D3DDECLUSAGE_NORMAL, 0,
                                            normals | inPlace, nullptr, -1, -1, -1, nullptr,
                                            &mapping)),
    };
    const Refusal unsupported = Refusal::UnsupportedTangentArguments;
    const Refusal noNormal = Refusal::NormalNotFloat3;
    EXPECT_EQ(causes,
              (std::vector<Refusal>{unsupported, unsupported, unsupported, unsupported, unsupported,
                                    unsupported, noNormal, noNormal, unsupported}));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(mapping, nullptr);
    for (const Vertex& v : vertices(mesh))
        EXPECT_EQ(v.nx + v.ny + v.nz, 27.0f);

    // An adjacency entry naming no face is refused too.
    const DWORD badAdjacency[3] = {5, 0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_EQ(refusalOf(computeNormals(mesh, badAdjacency)), Refusal::InconsistentAdjacency);
    for (const Vertex& v : vertices(mesh))
        EXPECT_EQ(v.nx + v.ny + v.nz, 27.0f);
    mesh->Release();
}

TEST_F(D3DXMeshTest, IndicesOutsideTheVerticesAreRefusedNotRead) {
    ID3DXMesh* mesh = makeMesh({at(0, 0, 0), at(1, 0, 0), at(0, 1, 0)}, {0, 1, 3});
    std::vector<DWORD> adjacent(3);
    EXPECT_EQ(refusalOf(mesh->GenerateAdjacency(0.0f, adjacent.data())), Refusal::IndexOutOfRange);
    EXPECT_EQ(refusalOf(computeNormals(mesh, nullptr)), Refusal::IndexOutOfRange);
    mesh->Release();
}

} // namespace
