// D3DX 9 textures: procedural fills of every level, and loading a volume from a DDS file.
#pragma once

#include "d3d9.h"
#include "d3dx9math.h"

// Filters for D3DXLoadVolumeFromFileA; only the box filter (also the default) is implemented.
constexpr DWORD D3DX_FILTER_BOX = 5;

// D3DX's result for files it cannot read as an image.
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

enum D3DXIMAGE_FILEFORMAT : DWORD { D3DXIFF_DDS = 4 };

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

struct PALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
};

// Fill callbacks: write the value of the texel whose centre is at `pTexCoord` (in texture
// coordinates, 0..1) and whose size is `pTexelSize` (1/width, 1/height[, 1/depth]).
using LPD3DXFILL2D = void (*)(D3DXVECTOR4* pOut, const D3DXVECTOR2* pTexCoord,
                              const D3DXVECTOR2* pTexelSize, LPVOID pData);
using LPD3DXFILL3D = void (*)(D3DXVECTOR4* pOut, const D3DXVECTOR3* pTexCoord,
                              const D3DXVECTOR3* pTexelSize, LPVOID pData);

// Calls `pFunction` once per texel of every level, level 0 first, each level row by row (and
// slice by slice), with texel (i, j[, k]) of a w x h [x d] level at ((i + 0.5) / w,
// (j + 0.5) / h[, (k + 0.5) / d]). The values are stored in the texture's format: A8R8G8B8
// (clamped to [0, 1]), R32F (x only), A16B16G16R16F or A32B32G32R32F. Other formats and
// textures that cannot be locked fail with D3DERR_INVALIDCALL before any callback.
HRESULT D3DXFillTexture(IDirect3DTexture9* pTexture, LPD3DXFILL2D pFunction, LPVOID pData);
HRESULT D3DXFillVolumeTexture(IDirect3DVolumeTexture9* pVolumeTexture, LPD3DXFILL3D pFunction,
                              LPVOID pData);

// Loads an uncompressed DDS volume file (A8R8G8B8, L8, A16B16G16R16F or A32B32G32R32F) into
// `pDestBox` of the volume (null: all of it) from `pSrcBox` of the file's top level (null: all
// of it), converting to the volume's format (as D3DXFillVolumeTexture stores values) and
// resizing with a box filter when the boxes differ in size. `Filter` must be D3DX_DEFAULT or
// D3DX_FILTER_BOX and `ColorKey` 0; the palette is not used (no palettised formats).
// `pSrcInfo`, when given, receives the file's description.
// Fails, leaving the volume as it was: D3DERR_NOTFOUND when the file cannot be opened,
// D3DXERR_INVALIDDATA (with the reason on standard error) when it is not a DDS volume this
// loader reads, D3DERR_INVALIDCALL for bad arguments or boxes.
HRESULT D3DXLoadVolumeFromFileA(IDirect3DVolume9* pDestVolume, const PALETTEENTRY* pDestPalette,
                                const D3DBOX* pDestBox, LPCSTR pSrcFile, const D3DBOX* pSrcBox,
                                DWORD Filter, D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo);
