#include "d3dx9mesh.h"

#include "d3dx_ref_counted.h"
#include "failure_injection.h"
#include "mesh_geometry.h"
#include "refusal.h"
#include "vertex_layout.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr DWORD supportedMeshOptions =
    D3DXMESH_VB_WRITEONLY | D3DXMESH_VB_DYNAMIC | D3DXMESH_IB_WRITEONLY | D3DXMESH_IB_DYNAMIC;
constexpr DWORD maxVerticesWith16BitIndices = std::numeric_limits<WORD>::max();

DWORD bufferUsage(DWORD options, DWORD writeOnly, DWORD dynamic) {
    return ((options & writeOnly) ? D3DUSAGE_WRITEONLY : 0) |
           ((options & dynamic) ? D3DUSAGE_DYNAMIC : 0);
}

class Mesh final : public d3dx::RefCounted<ID3DXMesh, Mesh> {
  public:
    Mesh(IDirect3DDevice9* device, d3dx::VertexLayout layout, DWORD faces, DWORD vertices)
        : device_(device), layout_(std::move(layout)), faces_(faces), vertexCount_(vertices) {
        device_->AddRef();
    }

    // Creates the buffers and the declaration on the device; the mesh is unusable unless this
    // succeeds.
    HRESULT create(DWORD options) {
        HRESULT hr = device_->CreateVertexBuffer(
            vertexCount_ * layout_.vertexSize,
            bufferUsage(options, D3DXMESH_VB_WRITEONLY, D3DXMESH_VB_DYNAMIC), 0, D3DPOOL_DEFAULT,
            &vertices_, nullptr);
        if (FAILED(hr)) return hr;
        hr = device_->CreateIndexBuffer(
            faces_ * 3 * sizeof(WORD),
            bufferUsage(options, D3DXMESH_IB_WRITEONLY, D3DXMESH_IB_DYNAMIC), D3DFMT_INDEX16,
            D3DPOOL_DEFAULT, &indices_, nullptr);
        if (FAILED(hr)) return hr;
        return device_->CreateVertexDeclaration(layout_.declaration().data(), &declaration_);
    }

    HRESULT DrawSubset(DWORD AttribId) override {
        if (AttribId != 0) return S_OK; // every face is in group 0
        HRESULT hr = device_->SetVertexDeclaration(declaration_);
        if (SUCCEEDED(hr)) hr = device_->SetStreamSource(0, vertices_, 0, layout_.vertexSize);
        if (SUCCEEDED(hr)) hr = device_->SetIndices(indices_);
        if (SUCCEEDED(hr))
            hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount_, 0, faces_);
        return hr;
    }
    DWORD GetNumFaces() override { return faces_; }
    DWORD GetNumVertices() override { return vertexCount_; }
    DWORD GetNumBytesPerVertex() override { return layout_.vertexSize; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) override {
        if (!Declaration)
            return d3d9gl::refuse("GetDeclaration", d3d9gl::Refusal::NoDeclarationArray);
        const auto declaration = layout_.declaration();
        std::memcpy(Declaration, declaration.data(), declaration.size() * sizeof declaration[0]);
        return S_OK;
    }
    HRESULT CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                      IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppCloneMesh) override;
    HRESULT LockVertexBuffer(DWORD Flags, LPVOID* ppData) override {
        return ppData ? vertices_->Lock(0, 0, ppData, Flags)
                      : d3d9gl::refuse("LockVertexBuffer", d3d9gl::Refusal::NoResultPointer);
    }
    HRESULT UnlockVertexBuffer() override { return vertices_->Unlock(); }
    HRESULT LockIndexBuffer(DWORD Flags, LPVOID* ppData) override {
        return ppData ? indices_->Lock(0, 0, ppData, Flags)
                      : d3d9gl::refuse("LockIndexBuffer", d3d9gl::Refusal::NoResultPointer);
    }
    HRESULT UnlockIndexBuffer() override { return indices_->Unlock(); }
    HRESULT GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) override;

  private:
    friend d3dx::RefCounted<ID3DXMesh, Mesh>;
    ~Mesh() {
        if (declaration_) declaration_->Release();
        if (indices_) indices_->Release();
        if (vertices_) vertices_->Release();
        device_->Release();
    }

    IDirect3DDevice9* device_;
    d3dx::VertexLayout layout_;
    DWORD faces_;
    DWORD vertexCount_;
    IDirect3DVertexBuffer9* vertices_ = nullptr;
    IDirect3DIndexBuffer9* indices_ = nullptr;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
};

HRESULT injectedMeshFailure(LPD3DXMESH* out) {
    if (out) *out = nullptr;
    return E_OUTOFMEMORY;
}

HRESULT createMesh(DWORD faces, DWORD vertices, DWORD options, d3dx::VertexLayout layout,
                   IDirect3DDevice9* device, LPD3DXMESH* out) {
    if (!out) return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::NoMeshPointer);
    *out = nullptr;
    if (!device) return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::NoDevice);
    if (faces == 0 || vertices == 0)
        return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::NoFacesOrVertices);
    if (vertices > maxVerticesWith16BitIndices)
        return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::TooManyVertices);
    if (options & ~supportedMeshOptions)
        return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::UnsupportedMeshOptions);
    if (std::uint64_t(faces) * 3 * sizeof(WORD) > 0xFFFFFFFFu ||
        std::uint64_t(vertices) * layout.vertexSize > 0xFFFFFFFFu)
        return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::BuffersPast4GiB);
    auto* mesh = new (std::nothrow) Mesh(device, std::move(layout), faces, vertices);
    if (!mesh) return E_OUTOFMEMORY;
    const HRESULT hr = mesh->create(options);
    if (FAILED(hr)) {
        mesh->Release();
        return hr;
    }
    *out = mesh;
    return S_OK;
}

// Locks a mesh's two buffers for reading and unlocks them when it goes out of scope.
class ReadLock {
  public:
    explicit ReadLock(ID3DXMesh* mesh) : mesh_(mesh) {
        if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertices_))) {
            if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &indices_))) return;
            mesh->UnlockVertexBuffer();
        }
        vertices_ = indices_ = nullptr;
    }
    ~ReadLock() {
        if (!vertices_) return;
        mesh_->UnlockIndexBuffer();
        mesh_->UnlockVertexBuffer();
    }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

    bool locked() const { return vertices_ != nullptr; }
    const std::uint8_t* vertices() const { return static_cast<const std::uint8_t*>(vertices_); }
    const std::uint16_t* indices() const { return static_cast<const std::uint16_t*>(indices_); }

  private:
    ID3DXMesh* mesh_;
    void* vertices_ = nullptr;
    void* indices_ = nullptr;
};

HRESULT Mesh::CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                        IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppCloneMesh) {
    if (!ppCloneMesh) return d3d9gl::refuse("CloneMesh", d3d9gl::Refusal::NoMeshPointer);
    *ppCloneMesh = nullptr;
    auto target = d3dx::readVertexLayout(pDeclaration);
    if (!target) return d3d9gl::refuse("CloneMesh", d3d9gl::Refusal::UnsupportedDeclaration);
    // Each target element takes the source element of its usage, which must match in type.
    struct Copy {
        WORD from, to, size;
    };
    std::vector<Copy> copies;
    for (const D3DVERTEXELEMENT9& element : target->elements) {
        const D3DVERTEXELEMENT9* source = layout_.find(element.Usage, element.UsageIndex);
        if (!source) continue;
        if (source->Type != element.Type)
            return d3d9gl::refuse("CloneMesh", d3d9gl::Refusal::ElementChangesType);
        copies.push_back(
            {source->Offset, element.Offset, static_cast<WORD>(d3dx::declTypeSize(element.Type))});
    }

    LPD3DXMESH clone = nullptr;
    HRESULT hr = createMesh(faces_, vertexCount_, Options, std::move(*target), pD3DDevice, &clone);
    if (FAILED(hr)) return hr;
    const ReadLock source(this);
    void* vertices = nullptr;
    void* indices = nullptr;
    hr = source.locked() ? clone->LockVertexBuffer(0, &vertices)
                         : d3d9gl::refuse("CloneMesh", d3d9gl::Refusal::BuffersNotLockable);
    if (SUCCEEDED(hr)) {
        hr = clone->LockIndexBuffer(0, &indices);
        if (SUCCEEDED(hr)) {
            const DWORD stride = clone->GetNumBytesPerVertex();
            auto* out = static_cast<std::uint8_t*>(vertices);
            std::memset(out, 0, std::size_t(stride) * vertexCount_);
            for (DWORD v = 0; v < vertexCount_; ++v)
                for (const Copy& copy : copies)
                    std::memcpy(out + std::size_t(v) * stride + copy.to,
                                source.vertices() + std::size_t(v) * layout_.vertexSize + copy.from,
                                copy.size);
            std::memcpy(indices, source.indices(), std::size_t(faces_) * 3 * sizeof(WORD));
            clone->UnlockIndexBuffer();
        }
        clone->UnlockVertexBuffer();
    }
    if (FAILED(hr)) {
        clone->Release();
        return hr;
    }
    *ppCloneMesh = clone;
    return S_OK;
}

// The position element that adjacency and normals read: POSITION 0 as three or four floats.
const D3DVERTEXELEMENT9* positionElement(const d3dx::VertexLayout& layout) {
    const D3DVERTEXELEMENT9* position = layout.find(D3DDECLUSAGE_POSITION, 0);
    if (!position || (position->Type != D3DDECLTYPE_FLOAT3 && position->Type != D3DDECLTYPE_FLOAT4))
        return nullptr;
    return position;
}

d3dx::TriangleMesh triangleMesh(ID3DXMesh* mesh, const D3DVERTEXELEMENT9& position,
                                const ReadLock& lock) {
    d3dx::TriangleMesh view;
    view.vertices = lock.vertices();
    view.vertexCount = mesh->GetNumVertices();
    view.stride = mesh->GetNumBytesPerVertex();
    view.positionOffset = position.Offset;
    view.indices = lock.indices();
    view.faceCount = mesh->GetNumFaces();
    return view;
}

HRESULT Mesh::GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) {
    const D3DVERTEXELEMENT9* position = positionElement(layout_);
    if (!pAdjacency) return d3d9gl::refuse("GenerateAdjacency", d3d9gl::Refusal::NoAdjacencyArray);
    if (!position) return d3d9gl::refuse("GenerateAdjacency", d3d9gl::Refusal::NoPosition);
    if (!(Epsilon >= 0.0f))
        return d3d9gl::refuse("GenerateAdjacency", d3d9gl::Refusal::NegativeEpsilon);
    const ReadLock lock(this);
    if (!lock.locked())
        return d3d9gl::refuse("GenerateAdjacency", d3d9gl::Refusal::BuffersNotLockable);
    const d3dx::TriangleMesh mesh = triangleMesh(this, *position, lock);
    if (!mesh.indicesInRange())
        return d3d9gl::refuse("GenerateAdjacency", d3d9gl::Refusal::IndexOutOfRange);
    d3dx::faceAdjacency(mesh, d3dx::pointRepresentatives(mesh, Epsilon), pAdjacency);
    return S_OK;
}

} // namespace

HRESULT D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options,
                       const D3DVERTEXELEMENT9* pDeclaration, IDirect3DDevice9* pD3DDevice,
                       LPD3DXMESH* ppMesh) {
    if (d3d9gl::injectedFailure("D3DXCreateMesh")) return injectedMeshFailure(ppMesh);
    auto layout = d3dx::readVertexLayout(pDeclaration);
    if (!layout) {
        if (ppMesh) *ppMesh = nullptr;
        return d3d9gl::refuse("D3DXCreateMesh", d3d9gl::Refusal::UnsupportedDeclaration);
    }
    return createMesh(NumFaces, NumVertices, Options, std::move(*layout), pD3DDevice, ppMesh);
}

HRESULT D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                          IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppMesh) {
    if (d3d9gl::injectedFailure("D3DXCreateMeshFVF")) return injectedMeshFailure(ppMesh);
    auto layout = d3dx::layoutFromFVF(FVF);
    if (!layout) {
        if (ppMesh) *ppMesh = nullptr;
        return d3d9gl::refuse("D3DXCreateMeshFVF", d3d9gl::Refusal::UnsupportedFvf);
    }
    return createMesh(NumFaces, NumVertices, Options, std::move(*layout), pD3DDevice, ppMesh);
}

HRESULT D3DXComputeTangentFrameEx(ID3DXMesh* pMesh, DWORD dwTextureInSemantic, DWORD,
                                  DWORD dwUPartialOutSemantic, DWORD, DWORD dwVPartialOutSemantic,
                                  DWORD, DWORD dwNormalOutSemantic, DWORD dwNormalOutIndex,
                                  DWORD dwOptions, const DWORD* pdwAdjacency, FLOAT, FLOAT, FLOAT,
                                  ID3DXMesh** ppMeshOut, ID3DXBuffer** ppVertexMapping) {
    constexpr DWORD normalsInPlace = D3DXTANGENT_CALCULATE_NORMALS | D3DXTANGENT_GENERATE_IN_PLACE;
    if (!pMesh || dwOptions != normalsInPlace || dwTextureInSemantic != D3DX_DEFAULT ||
        dwUPartialOutSemantic != D3DX_DEFAULT || dwVPartialOutSemantic != D3DX_DEFAULT ||
        ppMeshOut || ppVertexMapping || dwNormalOutSemantic > 0xFF || dwNormalOutIndex > 0xFF)
        return d3d9gl::refuse("D3DXComputeTangentFrameEx",
                              d3d9gl::Refusal::UnsupportedTangentArguments);

    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    if (FAILED(pMesh->GetDeclaration(declaration)))
        return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::NoMeshDeclaration);
    const auto layout = d3dx::readVertexLayout(declaration);
    if (!layout)
        return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::UnsupportedDeclaration);
    const D3DVERTEXELEMENT9* position = positionElement(*layout);
    const D3DVERTEXELEMENT9* normal =
        layout->find(static_cast<BYTE>(dwNormalOutSemantic), static_cast<BYTE>(dwNormalOutIndex));
    if (!position) return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::NoPosition);
    if (!normal || normal->Type != D3DDECLTYPE_FLOAT3)
        return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::NormalNotFloat3);

    std::vector<D3DXVECTOR3> normals;
    {
        const ReadLock lock(pMesh);
        if (!lock.locked())
            return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::BuffersNotLockable);
        const d3dx::TriangleMesh mesh = triangleMesh(pMesh, *position, lock);
        if (!mesh.indicesInRange())
            return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::IndexOutOfRange);
        std::vector<DWORD> ownAdjacency;
        if (!pdwAdjacency) {
            ownAdjacency.resize(3 * std::size_t(mesh.faceCount));
            d3dx::faceAdjacency(mesh, d3dx::pointRepresentatives(mesh, 0.0f), ownAdjacency.data());
            pdwAdjacency = ownAdjacency.data();
        }
        std::vector<std::uint32_t> points;
        if (!d3dx::adjacencyRepresentatives(mesh, pdwAdjacency, points))
            return d3d9gl::refuse("D3DXComputeTangentFrameEx",
                                  d3d9gl::Refusal::InconsistentAdjacency);
        normals = d3dx::angleWeightedNormals(mesh, points);
    }

    void* data = nullptr;
    if (FAILED(pMesh->LockVertexBuffer(0, &data)))
        return d3d9gl::refuse("D3DXComputeTangentFrameEx", d3d9gl::Refusal::BuffersNotLockable);
    auto* vertices = static_cast<std::uint8_t*>(data);
    for (std::size_t v = 0; v < normals.size(); ++v)
        std::memcpy(vertices + v * layout->vertexSize + normal->Offset, &normals[v].x,
                    3 * sizeof(float));
    pMesh->UnlockVertexBuffer();
    return S_OK;
}
