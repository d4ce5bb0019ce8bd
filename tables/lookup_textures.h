// The marching-cubes tables handed to the generation effect as textures, and the noise volume
// the density function samples: RayTexture ("g_txRay"), TriangleTableTexture ("g_txTriTable"),
// PolyCountTexture ("g_txNumPoly") and NoiseVolume ("g_txNoise"), all in the managed pool, so
// a device reset leaves them alone.
#pragma once

#include "platform/d3d9/d3dx9.h"

extern IDirect3DTexture9* RayTexture;           // 128 x 1 A32B32G32R32F
extern IDirect3DTexture9* TriangleTableTexture; // 256 x 32 A8R8G8B8
extern IDirect3DTexture9* PolyCountTexture;     // 256 x 1 R32F
extern IDirect3DVolumeTexture9* NoiseVolume;    // 64^3 A16B16G16R16F, full mip chain

// The fill rules, for D3DXFillTexture and D3DXFillVolumeTexture.
void fillRayTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre, const D3DXVECTOR2* size, void*);
void fillTriangleTableTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre,
                            const D3DXVECTOR2* size, void*);
void fillPolyCountTexel(D3DXVECTOR4* out, const D3DXVECTOR2* centre, const D3DXVECTOR2* size,
                        void*);
// Four values drawn from the program's rand(), each (r mod 32768) / 32768.
void fillNoiseTexel(D3DXVECTOR4* out, const D3DXVECTOR3* centre, const D3DXVECTOR3* size,
                    void*);

// Creates and fills the four textures in that order, then loads "noise.dds" over the noise
// volume's level 0 when it can be read.
void createLookupTextures(IDirect3DDevice9* device);
