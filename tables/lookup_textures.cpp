#include "tables/lookup_textures.h"

#include "platform/win32/msvcrt.h"
#include "tables/marching_cubes_tables.h"

IDirect3DTexture9* RayTexture;
IDirect3DTexture9* TriangleTableTexture;
IDirect3DTexture9* PolyCountTexture;
IDirect3DVolumeTexture9* NoiseVolume;

namespace {

// The texel index along one axis of `extent` texels, from the texel's centre and size.
int texelIndex(float centre, float size, int extent) {
    return static_cast<int>((centre - size / 2) * static_cast<float>(extent));
}

int triangleCount(int caseIndex) {
    const std::int32_t* row = TriangleTable[caseIndex];
    for (int k = 0; k < triangleTableRowLength; k += 3)
        if (row[k] == -1) return k / 3;
    return 0;
}

float noiseValue() {
    return static_cast<float>(msvcrt::rand() % 32768) / 32768.0f;
}

} // namespace

void fillRayTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre, const D3DXVECTOR2* size, void*) {
    const int i = texelIndex(centre->x, size->x, rayDirectionCount);
    *out = D3DXVECTOR4(RayDirections[i][0], RayDirections[i][1], RayDirections[i][2], 0.0f);
}

void fillPolyCountTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre, const D3DXVECTOR2* size,
                        void*) {
    const int n = texelIndex(centre->x, size->x, cubeCaseCount);
    *out = D3DXVECTOR4(static_cast<float>(triangleCount(n)), 0.0f, 0.0f, 0.0f);
}

// Column n is case n; rows 2s and 2s + 1 hold the first and second corner of the edge that
// carries vertex s of the case, as (x, z, y) offsets in {0, 1}.
void fillTriangleTableTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre,
                            const D3DXVECTOR2* size, void*) {
    const int n = texelIndex(centre->x, size->x, cubeCaseCount);
    const float v = centre->y - size->y / 2;
    const int s = static_cast<int>(v * 16.0f);
    const int r = static_cast<int>(v * 32.0f);
    const std::int32_t edge = TriangleTable[n][s];
    if (edge == -1) {
        *out = D3DXVECTOR4(0.0f, 0.0f, 0.0f, 0.0f);
        return;
    }
    const float* corner = CubeCorners[EdgeCorners[edge][r - 2 * s]]; // stored (z, y, x)
    *out = D3DXVECTOR4(corner[2], corner[0], corner[1], 0.0f);
}

void fillNoiseTexel(D3DXVECTOR4* out, const D3DXVECTOR3*, const D3DXVECTOR3*, void*) {
    // Four separate statements: the order of the draws is part of the noise.
    const float x = noiseValue();
    const float y = noiseValue();
    const float z = noiseValue();
    const float w = noiseValue();
    *out = D3DXVECTOR4(x, y, z, w);
}

void createLookupTextures(IDirect3DDevice9* device) {
    device->CreateTexture(rayDirectionCount, 1, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_MANAGED,
                          &RayTexture, nullptr);
    D3DXFillTexture(RayTexture, fillRayTexel, nullptr);

    device->CreateTexture(cubeCaseCount, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                          &TriangleTableTexture, nullptr);
    D3DXFillTexture(TriangleTableTexture, fillTriangleTableTexel, nullptr);

    device->CreateTexture(cubeCaseCount, 1, 1, 0, D3DFMT_R32F, D3DPOOL_MANAGED, &PolyCountTexture,
                          nullptr);
    D3DXFillTexture(PolyCountTexture, fillPolyCountTexel, nullptr);

    device->CreateVolumeTexture(64, 64, 64, 0, 0, D3DFMT_A16B16G16R16F, D3DPOOL_MANAGED,
                                &NoiseVolume, nullptr);
    D3DXFillVolumeTexture(NoiseVolume, fillNoiseTexel, nullptr);

    // A missing or unreadable file leaves the random level 0 in place.
    IDirect3DVolume9* level0 = nullptr;
    if (NoiseVolume != nullptr && SUCCEEDED(NoiseVolume->GetVolumeLevel(0, &level0))) {
        D3DXLoadVolumeFromFileA(level0, nullptr, nullptr, "noise.dds", nullptr, D3DX_DEFAULT, 0,
                                nullptr);
        level0->Release();
    }
}
