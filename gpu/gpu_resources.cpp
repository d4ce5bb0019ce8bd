#include "gpu/gpu_resources.h"

#include "engine/engine_handles.h"

#include "tables/lookup_textures.h"
#include "terrain/terrain_state.h"

#include <cstdio>
#include <cstring>
#include <string>

RenderTarget DensityMap;
Readback DensityMapReadback;
RenderTarget CubeMap;
Readback CubeMapReadback;
RenderTarget PolyCountPyramid[pyramidLevels];
Readback TotalReadback;
RenderTarget VertexTarget;
RenderTarget MeshVertexTarget;
Readback MeshVertexReadback;

ID3DXEffect* generationEffect;
ID3DXEffect* renderEffect;

IDirect3DVertexDeclaration9* QuadDeclaration;
IDirect3DVertexBuffer9* SliceQuad;
IDirect3DVertexBuffer9* FullQuad;

// Clip positions carry Direct3D's half-texel shift (left and up by half a texel) of the target
// they are made for; z and w are 0, the effects supply their own.
const QuadVertex sliceQuadVertices[4] = {
    {-1.0f - 1.0f / 4096, 1.0f + 1.0f / 64, 0, 0, 0, 0},
    {-1.0f - 1.0f / 4096 + 1.0f / 32, 1.0f + 1.0f / 64, 0, 0, 1, 0},
    {-1.0f - 1.0f / 4096, -1.0f + 1.0f / 64, 0, 0, 0, 1},
    {-1.0f - 1.0f / 4096 + 1.0f / 32, -1.0f + 1.0f / 64, 0, 0, 1, 1},
};
const QuadVertex fullQuadVertices[4] = {
    {-1.0f - 1.0f / 1024, 1.0f + 1.0f / 32, 0, 0, 0, 0},
    {1.0f - 1.0f / 1024, 1.0f + 1.0f / 32, 0, 0, 1, 0},
    {-1.0f - 1.0f / 1024, -1.0f + 1.0f / 32, 0, 0, 0, 1},
    {1.0f - 1.0f / 1024, -1.0f + 1.0f / 32, 0, 0, 1, 1},
};

const D3DVERTEXELEMENT9 MeshDeclaration[4] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

std::uint16_t IdentityIndices[blockMeshVertexLimit];

namespace {

const D3DVERTEXELEMENT9 quadElements[3] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

template <class T> void release(T* object) {
    if (object != nullptr) object->Release();
}

// True when `result` says the object was made; otherwise one line naming it and the result.
// Its handle is then null, and the block passes that need it leave their blocks empty.
bool created(HRESULT result, const std::string& object) {
    if (SUCCEEDED(result)) return true;
    std::fprintf(stderr, "cannot create %s (HRESULT 0x%08X); blocks that need it stay empty\n",
                 object.c_str(), static_cast<unsigned>(result));
    return false;
}

// A texture and its level-0 surface, both or neither: whatever the handles held before (an
// object the device-lost hook released) is overwritten.
template <class Pair>
void createTexturePair(UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                       const char* name, Pair& pair) {
    pair.surface = nullptr;
    if (!created(d3dDevice->CreateTexture(width, height, 1, usage, format, pool, &pair.texture,
                                          nullptr),
                 name)) {
        pair.texture = nullptr;
        return;
    }
    if (!created(pair.texture->GetSurfaceLevel(0, &pair.surface),
                 std::string("the surface of ") + name)) {
        pair.texture->Release();
        pair = {nullptr, nullptr};
    }
}

void createTarget(UINT width, UINT height, D3DFORMAT format, const char* name,
                  RenderTarget& target) {
    createTexturePair(width, height, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, name, target);
}

void createReadback(UINT width, UINT height, D3DFORMAT format, const char* name,
                    Readback& readback) {
    createTexturePair(width, height, 0, format, D3DPOOL_SYSTEMMEM, name, readback);
}

// The default-pool targets, each with its surface; with `readbacks` also their system copies,
// made in the order the targets need them.
void createTargets(bool readbacks) {
    createTarget(densityMapWidth, densityMapHeight, D3DFMT_R32F, "the DensityMap target",
                 DensityMap);
    if (readbacks)
        createReadback(densityMapWidth, densityMapHeight, D3DFMT_R32F, "the DensityMap readback",
                       DensityMapReadback);

    createTarget(cubeMapWidth, cubeMapHeight, D3DFMT_A8R8G8B8, "the CubeMap target", CubeMap);
    if (readbacks)
        createReadback(cubeMapWidth, cubeMapHeight, D3DFMT_A8R8G8B8, "the CubeMap readback",
                       CubeMapReadback);

    const char* const levelNames[pyramidLevels] = {
        "pyramid level 1", "pyramid level 2", "pyramid level 3", "pyramid level 4"};
    for (int k = 0; k < pyramidLevels; ++k)
        createTarget(pyramidWidths[k], pyramidHeights[k], D3DFMT_A32B32G32R32F, levelNames[k],
                     PolyCountPyramid[k]);
    if (readbacks)
        createReadback(1, 1, D3DFMT_A32B32G32R32F, "the triangle total readback", TotalReadback);

    createTarget(vertexTargetWidth, vertexTargetHeight, D3DFMT_A32B32G32R32F,
                 "the VertexTarget", VertexTarget);
    if (readbacks)
        createReadback(meshVertexTargetWidth, meshVertexTargetHeight, D3DFMT_A32B32G32R32F,
                       "the mesh vertex readback", MeshVertexReadback);
    createTarget(meshVertexTargetWidth, meshVertexTargetHeight, D3DFMT_A32B32G32R32F,
                 "the MeshVertexTarget", MeshVertexTarget);
}

void fillIdentityIndices() {
    for (int i = 0; i < blockMeshVertexLimit; ++i)
        IdentityIndices[i] = static_cast<std::uint16_t>(i);
}

IDirect3DVertexBuffer9* createQuad(const QuadVertex (&vertices)[4], const char* name) {
    IDirect3DVertexBuffer9* quad = nullptr;
    if (!created(d3dDevice->CreateVertexBuffer(sizeof vertices,
                                               D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                               D3DPOOL_DEFAULT, &quad, nullptr),
                 name))
        return nullptr;
    void* data = nullptr;
    if (SUCCEEDED(quad->Lock(0, 0, &data, D3DLOCK_DISCARD))) {
        std::memcpy(data, vertices, sizeof vertices);
        quad->Unlock();
    }
    return quad;
}

void createQuads() {
    SliceQuad = createQuad(sliceQuadVertices, "the SliceQuad");
    FullQuad = createQuad(fullQuadVertices, "the FullQuad");
}

void releaseTarget(const RenderTarget& target) {
    release(target.texture);
    release(target.surface);
}

} // namespace

ID3DXEffect* createEffectReportingErrors(IDirect3DDevice9* device, const char* fileName,
                                         DWORD flags) {
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    const HRESULT result = D3DXCreateEffectFromFileA(device, fileName, nullptr, nullptr, flags,
                                                     nullptr, &effect, &errors);
    if (FAILED(result)) {
        const std::string text =
            errors != nullptr ? static_cast<const char*>(errors->GetBufferPointer())
                              : std::string(fileName) + ": the effect could not be created";
        MessageBoxA(nullptr, text.c_str(), "Fx Compile Error", MB_ICONWARNING);
        effect = nullptr;
    }
    release(errors);
    return effect;
}

void createGpuResources() {
    IDirect3DDevice9* const device = d3dDevice;
    InitializeCriticalSection(&GenerationLock);
    InitializeCriticalSection(&BlockPublishLock);

    createTargets(true);
    fillIdentityIndices();

    generationEffect =
        createEffectReportingErrors(device, generationEffectFile, generationEffectFirstFlags);
    renderEffect = createEffectReportingErrors(device, renderEffectFile, renderEffectFlags);

    // Block meshes carry their own declaration, so only the quads need one here.
    if (!created(device->CreateVertexDeclaration(quadElements, &QuadDeclaration),
                 "the quad declaration"))
        QuadDeclaration = nullptr;
    createQuads();

    createLookupTextures(device);

    for (int slot = 0; slot < workerCount; ++slot) {
        StagingBuffers& staging = WorkerStagingBuffers[slot];
        const std::string worker = " of worker " + std::to_string(slot);
        if (!created(device->CreateVertexBuffer(stagingVertexBufferBytes, D3DUSAGE_DYNAMIC, 0,
                                                D3DPOOL_SYSTEMMEM, &staging.vertices, nullptr),
                     "the staging vertex buffer" + worker))
            staging.vertices = nullptr;
        if (!created(device->CreateIndexBuffer(stagingIndexBufferBytes, D3DUSAGE_DYNAMIC,
                                               D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &staging.indices,
                                               nullptr),
                     "the staging index buffer" + worker))
            staging.indices = nullptr;
    }
}

// Both hooks take the two locks in their one order (a progress frame holds them already), so no
// GPU pass and no mesh swap runs while they do; the loss also waits for the workers' mesh work.
void releaseDeviceResources() {
    EnterCriticalSection(&GenerationLock);
    EnterCriticalSection(&BlockPublishLock);
    beginDeviceLoss();
    releaseTarget(DensityMap);
    releaseTarget(CubeMap);
    for (const RenderTarget& level : PolyCountPyramid)
        releaseTarget(level);
    releaseTarget(VertexTarget);
    releaseTarget(MeshVertexTarget);

    release(renderEffect);
    release(generationEffect);

    release(SliceQuad);
    release(FullQuad);

    for (int i = 0; i < towerBlockCount; ++i) {
        BlockTriangleCounts[i].store(0, std::memory_order_release);
        release(BlockMeshes[i]);
        BlockMeshes[i] = nullptr;
    }
    for (ID3DXMesh*& unpublished : SlotUnpublishedMeshes) {
        release(unpublished);
        unpublished = nullptr;
    }
    LeaveCriticalSection(&BlockPublishLock);
    LeaveCriticalSection(&GenerationLock);
}

void restoreDeviceResources() {
    EnterCriticalSection(&GenerationLock);
    EnterCriticalSection(&BlockPublishLock);
    createTargets(false);
    fillIdentityIndices();
    generationEffect =
        createEffectReportingErrors(d3dDevice, generationEffectFile, generationEffectResetFlags);
    renderEffect = createEffectReportingErrors(d3dDevice, renderEffectFile, renderEffectFlags);
    createQuads();
    endDeviceLoss();
    LeaveCriticalSection(&BlockPublishLock);
    LeaveCriticalSection(&GenerationLock);
}
