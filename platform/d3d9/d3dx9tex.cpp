#include "d3dx9tex.h"

#include "dds_volume.h"
#include "platform/files/bounded_file.h"
#include "refusal.h"
#include "texel_codec.h"

#include <cstdio>
#include <vector>

namespace {

// Whether every level of `texture` has a format D3DX can write.
template <class Description, class Texture> bool everyLevelWritable(Texture* texture) {
    const DWORD levels = texture->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        Description desc;
        if (FAILED(texture->GetLevelDesc(level, &desc)) || !d3dx::encodedTexelSize(desc.Format))
            return false;
    }
    return true;
}

// Stores valueAt(i, j, k), a D3DXVECTOR4, in `format` for each texel of a width x height x
// depth block whose first texel is at `bits`: row by row, then slice by slice.
template <class ValueAt>
void storeBlock(D3DFORMAT format, void* bits, std::size_t rowPitch, std::size_t slicePitch,
                UINT width, UINT height, UINT depth, ValueAt valueAt) {
    const std::size_t texelSize = d3dx::encodedTexelSize(format);
    for (UINT k = 0; k < depth; ++k)
        for (UINT j = 0; j < height; ++j) {
            auto* row = static_cast<std::uint8_t*>(bits) + k * slicePitch + j * rowPitch;
            for (UINT i = 0; i < width; ++i) {
                const D3DXVECTOR4 value = valueAt(i, j, k);
                const float rgba[4] = {value.x, value.y, value.z, value.w};
                d3dx::encodeTexel(format, rgba, row + i * texelSize);
            }
        }
}

// Whether `box` is a non-empty box inside a width x height x depth volume.
bool boxInside(const D3DBOX& box, UINT width, UINT height, UINT depth) {
    return box.Left < box.Right && box.Right <= width && box.Top < box.Bottom &&
           box.Bottom <= height && box.Front < box.Back && box.Back <= depth;
}

// The largest DDS file read: the largest top level the parser accepts is far smaller.
constexpr std::size_t largestDdsFile = std::size_t{512} << 20;

} // namespace

HRESULT D3DXFillTexture(IDirect3DTexture9* pTexture, LPD3DXFILL2D pFunction, LPVOID pData) {
    if (!pTexture || !pFunction)
        return d3d9gl::refuse("D3DXFillTexture", d3d9gl::Refusal::NoFunction);
    if (!everyLevelWritable<D3DSURFACE_DESC>(pTexture))
        return d3d9gl::refuse("D3DXFillTexture", d3d9gl::Refusal::LevelNotWritable);
    const DWORD levels = pTexture->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        D3DSURFACE_DESC desc;
        pTexture->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT locked;
        const HRESULT hr = pTexture->LockRect(level, &locked, nullptr, 0);
        if (FAILED(hr)) return hr;
        const D3DXVECTOR2 size(1.0f / desc.Width, 1.0f / desc.Height);
        storeBlock(desc.Format, locked.pBits, locked.Pitch, 0, desc.Width, desc.Height, 1,
                   [&](UINT i, UINT j, UINT) {
                       const D3DXVECTOR2 centre((i + 0.5f) / desc.Width, (j + 0.5f) / desc.Height);
                       D3DXVECTOR4 value(0.0f, 0.0f, 0.0f, 0.0f);
                       pFunction(&value, &centre, &size, pData);
                       return value;
                   });
        pTexture->UnlockRect(level);
    }
    return S_OK;
}

HRESULT D3DXFillVolumeTexture(IDirect3DVolumeTexture9* pVolumeTexture, LPD3DXFILL3D pFunction,
                              LPVOID pData) {
    if (!pVolumeTexture || !pFunction)
        return d3d9gl::refuse("D3DXFillVolumeTexture", d3d9gl::Refusal::NoFunction);
    if (!everyLevelWritable<D3DVOLUME_DESC>(pVolumeTexture))
        return d3d9gl::refuse("D3DXFillVolumeTexture", d3d9gl::Refusal::LevelNotWritable);
    const DWORD levels = pVolumeTexture->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        D3DVOLUME_DESC desc;
        pVolumeTexture->GetLevelDesc(level, &desc);
        D3DLOCKED_BOX locked;
        const HRESULT hr = pVolumeTexture->LockBox(level, &locked, nullptr, 0);
        if (FAILED(hr)) return hr;
        const D3DXVECTOR3 size(1.0f / desc.Width, 1.0f / desc.Height, 1.0f / desc.Depth);
        storeBlock(desc.Format, locked.pBits, locked.RowPitch, locked.SlicePitch, desc.Width,
                   desc.Height, desc.Depth, [&](UINT i, UINT j, UINT k) {
                       const D3DXVECTOR3 centre((i + 0.5f) / desc.Width, (j + 0.5f) / desc.Height,
                                                (k + 0.5f) / desc.Depth);
                       D3DXVECTOR4 value(0.0f, 0.0f, 0.0f, 0.0f);
                       pFunction(&value, &centre, &size, pData);
                       return value;
                   });
        pVolumeTexture->UnlockBox(level);
    }
    return S_OK;
}

HRESULT D3DXLoadVolumeFromFileA(IDirect3DVolume9* pDestVolume, const PALETTEENTRY*,
                                const D3DBOX* pDestBox, LPCSTR pSrcFile, const D3DBOX* pSrcBox,
                                DWORD Filter, D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo) {
    constexpr const char* call = "D3DXLoadVolumeFromFileA";
    if (!pDestVolume) return d3d9gl::refuse(call, d3d9gl::Refusal::NoVolumePointer);
    if (!pSrcFile) return d3d9gl::refuse(call, d3d9gl::Refusal::NoFileName);
    if (Filter != D3DX_DEFAULT && Filter != D3DX_FILTER_BOX)
        return d3d9gl::refuse(call, d3d9gl::Refusal::UnsupportedFilter);
    if (ColorKey != 0) return d3d9gl::refuse(call, d3d9gl::Refusal::ColorKey);
    D3DVOLUME_DESC desc;
    if (FAILED(pDestVolume->GetDesc(&desc)))
        return d3d9gl::refuse("D3DXLoadVolumeFromFileA", d3d9gl::Refusal::NoVolumeDescription);
    const std::size_t texelSize = d3dx::encodedTexelSize(desc.Format);
    const D3DBOX destBox =
        pDestBox ? *pDestBox : D3DBOX{0, 0, desc.Width, desc.Height, 0, desc.Depth};
    if (!texelSize || !boxInside(destBox, desc.Width, desc.Height, desc.Depth))
        return d3d9gl::refuse("D3DXLoadVolumeFromFileA", d3d9gl::Refusal::BoxOutsideVolume);

    const files::FileRead file = files::readBoundedFile(pSrcFile, largestDdsFile);
    if (!file.ok()) {
        std::fprintf(stderr, "D3DXLoadVolumeFromFileA: %s: %s\n", pSrcFile, file.problem.c_str());
        return D3DERR_NOTFOUND;
    }
    const d3dx::DdsVolumeParse parsed = d3dx::parseDdsVolume(file.bytes);
    if (!parsed.volume) {
        std::fprintf(stderr, "D3DXLoadVolumeFromFileA: %s: %s\n", pSrcFile, parsed.error.c_str());
        return D3DXERR_INVALIDDATA;
    }
    const d3dx::VolumeImage& image = parsed.volume->image;
    const D3DBOX srcBox =
        pSrcBox ? *pSrcBox : D3DBOX{0, 0, image.width, image.height, 0, image.depth};
    if (!boxInside(srcBox, image.width, image.height, image.depth))
        return d3d9gl::refuse("D3DXLoadVolumeFromFileA", d3d9gl::Refusal::BoxOutsideImage);

    const d3dx::VolumeImage source =
        d3dx::boxFilterVolume(d3dx::cropVolume(image, srcBox), destBox.Right - destBox.Left,
                              destBox.Bottom - destBox.Top, destBox.Back - destBox.Front);

    // Locked whole: the box's texels are addressed through the pitches.
    D3DLOCKED_BOX locked;
    const HRESULT hr = pDestVolume->LockBox(&locked, nullptr, 0);
    if (FAILED(hr)) return hr;
    auto* corner = static_cast<std::uint8_t*>(locked.pBits) +
                   std::size_t(destBox.Front) * locked.SlicePitch +
                   std::size_t(destBox.Top) * locked.RowPitch + destBox.Left * texelSize;
    storeBlock(desc.Format, corner, locked.RowPitch, locked.SlicePitch, source.width, source.height,
               source.depth, [&](UINT x, UINT y, UINT z) {
                   const float* texel = source.texel(x, y, z);
                   return D3DXVECTOR4(texel[0], texel[1], texel[2], texel[3]);
               });
    pDestVolume->UnlockBox();

    if (pSrcInfo) {
        pSrcInfo->Width = image.width;
        pSrcInfo->Height = image.height;
        pSrcInfo->Depth = image.depth;
        pSrcInfo->MipLevels = parsed.volume->mipLevels;
        pSrcInfo->Format = parsed.volume->format;
        pSrcInfo->ResourceType = D3DRTYPE_VOLUMETEXTURE;
        pSrcInfo->ImageFileFormat = D3DXIFF_DDS;
    }
    return S_OK;
}
