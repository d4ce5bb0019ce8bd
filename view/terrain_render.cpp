#include "view/terrain_render.h"

#include "engine/engine_handles.h"
#include "gpu/gpu_resources.h"
#include "terrain/terrain_state.h"
#include "view/frustum.h"

D3DXMATRIX viewMatrix;
D3DXMATRIX projMatrix;
D3DXVECTOR4 viewPos;

namespace {

constexpr float blockScale = 10.0f;
constexpr float towerFloor = 500.0f;

D3DXMATRIX engineMatrix(int position) {
    const auto* elements = static_cast<const float*>(engineSlot(engineSlotTable, position));
    D3DXMATRIX matrix;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            matrix(row, column) = elements[row * 4 + column];
    return matrix;
}

// Block (x, y, z) is centred here in Direct3D axes: the block grid's z is up, Direct3D's y.
D3DXVECTOR3 blockCenter(int x, int y, int z) {
    auto offset = [](int coordinate) {
        return static_cast<float>((32 * coordinate - 16) * static_cast<int>(blockScale));
    };
    return D3DXVECTOR3(offset(x), offset(z) + towerFloor, offset(y));
}

// Scale first, then the translation to the block's centre.
D3DXMATRIX worldMatrixAt(const D3DXVECTOR3& center) {
    D3DXMATRIX scaling, translation, world;
    D3DXMatrixScaling(&scaling, blockScale, blockScale, blockScale);
    D3DXMatrixTranslation(&translation, center.x, center.y, center.z);
    D3DXMatrixMultiply(&world, &scaling, &translation);
    return world;
}

} // namespace

D3DXMATRIX blockWorldMatrix(int x, int y, int z) {
    return worldMatrixAt(blockCenter(x, y, z));
}

void drawBlock(int x, int y, int z) {
    const D3DXVECTOR3 center = blockCenter(x, y, z);
    const D3DXMATRIX world = worldMatrixAt(center);
    D3DXMATRIX worldView, worldViewProj;
    D3DXMatrixMultiply(&worldView, &world, &viewMatrix);
    D3DXMatrixMultiply(&worldViewProj, &worldView, &projMatrix);

    // One read of the count: a worker zeroes it before it lets go of the old mesh and sets it
    // only once the new mesh is complete, so a count above 0 vouches for the mesh read after it.
    const int block = blockIndex(x, y, z);
    if (BlockTriangleCounts[block].load() <= 0) return;
    if (sphereInFrustum(center.x, center.y, center.z, cullRadius) == 0) return;
    ID3DXEffect* effect = renderEffect;
    if (!effect) return;
    ID3DXMesh* mesh = BlockMeshes[block];

    effect->SetTechnique("renderTerrain");
    effect->SetTexture("entSkin1", skinBitmap->texture);
    effect->SetMatrix("matView", &viewMatrix);
    effect->SetMatrix("matProj", &projMatrix);
    effect->SetMatrix("matWorld", &world);
    effect->SetMatrix("matWorldViewProj", &worldViewProj);
    effect->SetVector("vecViewPos", &viewPos);
    effect->CommitChanges();

    vertexCount += static_cast<std::int32_t>(mesh->GetNumVertices());
    polygonCount += static_cast<std::int32_t>(mesh->GetNumFaces());

    UINT passes = 0;
    if (FAILED(effect->Begin(&passes, 0))) return;
    for (UINT pass = 0; pass < passes; ++pass) {
        effect->BeginPass(pass);
        mesh->DrawSubset(0);
        effect->EndPass();
    }
    effect->End();
}

void renderTower() {
    viewMatrix = engineMatrix(EnginePos::viewMatrix);
    vertexCount = 0;
    polygonCount = 0;
    projMatrix = engineMatrix(EnginePos::projectionMatrix);

    const EngineVector& camera =
        engineVariable<EngineCamera>(engineSlotTable, EnginePos::camera).position;
    viewPos = D3DXVECTOR4(static_cast<float>(fromEngineNumber(camera.x)),
                          static_cast<float>(fromEngineNumber(camera.z)),
                          static_cast<float>(fromEngineNumber(camera.y)), 0.0f);

    updateFrustum(viewMatrix, projMatrix);

    for (int x = 0; x < towerBlocksPerAxis; ++x)
        for (int y = 0; y < towerBlocksPerAxis; ++y)
            for (int z = 0; z < towerBlocksPerAxis; ++z)
                drawBlock(x, y, z);
}
