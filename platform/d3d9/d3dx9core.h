// D3DX 9 core: the reference-counted byte buffer that D3DX calls hand out (compiler logs,
// adjacency lists).
#pragma once

#include "d3d9.h"

struct ID3DXBuffer : IUnknown {
    virtual LPVOID GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;

  protected:
    ~ID3DXBuffer() = default;
};
using LPD3DXBUFFER = ID3DXBuffer*;

// A buffer of `NumBytes` zeroed bytes with a reference count of one. A size of 0 gives a
// valid buffer whose pointer is null.
HRESULT D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);
