// D3DX 9 effects over OpenGL: an effect file (our own annotated-GLSL format, described in
// EFFECTS.md beside this header) holds parameters, GLSL code and techniques of passes.
//
// What the layer guarantees:
// - Parameters and techniques are named by strings (a D3DXHANDLE is the name). An unknown
//   name, or a value of the wrong kind (SetMatrix on a float, a volume texture for a 2D
//   texture), fails with D3DERR_INVALIDCALL and changes nothing.
// - Values are kept in the effect and reach GL at BeginPass and at CommitChanges inside a
//   pass, where every value the pass's program uses is uploaded again (another thread's
//   context may have drawn with the program in between). CommitChanges outside a pass has
//   nothing to commit: the next BeginPass uploads everything.
// - The k-th texture parameter of the file is bound to texture stage k with its sampler
//   states, through the device, when a pass whose program uses it begins.
// - Begin(&passes, 0) saves the device state that the technique's passes change (the render
//   states they name, the textures and sampler states of the stages their programs use, the
//   program) and End restores it; with D3DXFX_DONOTSAVESTATE nothing is saved or restored.
// - Effects are not thread-safe; one thread at a time may use an effect (the device may be
//   used meanwhile from other threads).
#pragma once

#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"

// A parameter or technique, by name.
using D3DXHANDLE = const char*;

struct D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
};

// Include handlers and effect pools are not part of the subset: only null is accepted.
struct ID3DXInclude;
using LPD3DXINCLUDE = ID3DXInclude*;
struct ID3DXEffectPool;
using LPD3DXEFFECTPOOL = ID3DXEffectPool*;

// Direct3D compile flags, accepted for the callers' sake. GLSL has no equivalent of any of
// them: every stage is compiled by the GL driver with its own optimisation, so they change
// nothing. Any other flag is refused.
constexpr DWORD D3DXSHADER_DEBUG = 0x00000001;
constexpr DWORD D3DXSHADER_SKIPOPTIMIZATION = 0x00000004;
constexpr DWORD D3DXSHADER_AVOID_FLOW_CONTROL = 0x00000200;
constexpr DWORD D3DXSHADER_USE_LEGACY_D3DX9_31_DLL = 0x00010000;

// Begin flag: leave the device state as the passes set it at End.
constexpr DWORD D3DXFX_DONOTSAVESTATE = 0x00000001;

struct ID3DXEffect : IUnknown {
    virtual HRESULT SetTechnique(D3DXHANDLE hTechnique) = 0;
    virtual HRESULT SetTexture(D3DXHANDLE hParameter, IDirect3DBaseTexture9* pTexture) = 0;
    virtual HRESULT SetMatrix(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) = 0;
    virtual HRESULT SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) = 0;
    virtual HRESULT SetFloat(D3DXHANDLE hParameter, FLOAT f) = 0;
    virtual HRESULT SetInt(D3DXHANDLE hParameter, INT n) = 0;
    virtual HRESULT CommitChanges() = 0;
    // Starts the current technique; *pPasses receives its pass count.
    virtual HRESULT Begin(UINT* pPasses, DWORD Flags) = 0;
    virtual HRESULT BeginPass(UINT Pass) = 0;
    virtual HRESULT EndPass() = 0;
    virtual HRESULT End() = 0;

  protected:
    ~ID3DXEffect() = default;
};
using LPD3DXEFFECT = ID3DXEffect*;

// Reads, parses and compiles an effect file on the calling thread's context of the device.
// The first technique of the file is current. On failure *ppEffect is null and, when
// ppCompilationErrors is given, it receives a zero-terminated text: the problems, each as
// "file(line): error: ...", with GL compiler messages mapped to the file's lines. On success
// *ppCompilationErrors is null.
HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* pDevice, LPCSTR pSrcFile,
                                  const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                  LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                  LPD3DXBUFFER* ppCompilationErrors);
