// Refused calls. Direct3D answers a call it refuses with D3DERR_INVALIDCALL and nothing more;
// the layer names the cause of each refusal in one table, remembers the calling thread's last
// cause (lastRefusal, for tests and debugging), and with the environment variable
// GORVANE_D3D_DEBUG=1 prints it on standard error as "d3d9: <call> refused: <reason>", so that
// whoever's call fails learns why.
#pragma once

#include "d3d9.h"

namespace d3d9gl {

// Every cause of a refusal, once: X(name, reason printed under GORVANE_D3D_DEBUG=1).
#define D3D9GL_REFUSALS(X)                                                                         \
    /* Missing arguments */                                                                        \
    X(NoResultPointer, "no result pointer")                                                        \
    X(NoTexturePointer, "no texture pointer")                                                      \
    X(NoBufferPointer, "no buffer pointer")                                                        \
    X(NoSurfacePointer, "no surface pointer")                                                      \
    X(NoVolumePointer, "no volume pointer")                                                        \
    X(NoMeshPointer, "no mesh pointer")                                                            \
    X(NoEffectPointer, "no effect pointer")                                                        \
    X(NoDevicePointer, "no device pointer")                                                        \
    X(NoValuePointer, "no value pointer")                                                          \
    X(NoDescriptionPointer, "no description pointer")                                              \
    X(NoCountPointer, "no count pointer")                                                          \
    X(NoDeclarationArray, "no declaration array")                                                  \
    X(NoElementList, "no element list or no declaration pointer")                                  \
    X(NoDevice, "no device")                                                                       \
    X(NoWindow, "no window")                                                                       \
    X(NoFileName, "no file name")                                                                  \
    X(NoMatrix, "no matrix")                                                                       \
    X(NoVector, "no vector")                                                                       \
    X(NoFunction, "no texture or no function")                                                     \
    X(NoSourceOrDestination, "no source or no destination surface")                                \
    X(NoRectangles, "a rectangle count without rectangles")                                        \
    X(NoAdjacencyArray, "no adjacency array")                                                      \
    X(ZeroSize, "zero size")                                                                       \
    X(ZeroLength, "zero length")                                                                   \
    /* Formats, pools and usages */                                                                \
    X(UnsupportedFormat, "unsupported format")                                                     \
    X(DepthFormat, "depth formats are only the implicit depth surface's")                          \
    X(UnsupportedUsage, "unsupported usage flags")                                                 \
    X(ScratchPool, "D3DPOOL_SCRATCH is not supported")                                             \
    X(DynamicManaged, "D3DUSAGE_DYNAMIC in D3DPOOL_MANAGED")                                       \
    X(TooManyLevels, "more levels than the full mipmap chain")                                     \
    X(RenderTargetNotDefault, "render targets live in D3DPOOL_DEFAULT only")                       \
    X(FormatNotRenderable, "the format cannot be rendered to")                                     \
    X(NotIndexFormat, "the format is neither D3DFMT_INDEX16 nor D3DFMT_INDEX32")                   \
    X(LevelNotWritable, "a level cannot be written (format or pool)")                              \
    /* Vertex declarations */                                                                      \
    X(NoDeclarationEnd, "no D3DDECL_END within MAXD3DDECLLENGTH elements")                         \
    X(ElementStreamOutOfRange, "an element's stream is out of range")                              \
    X(ElementMethod, "an element's method is not D3DDECLMETHOD_DEFAULT")                           \
    X(ElementType, "an element's type is not supported")                                           \
    X(UnsupportedDeclaration, "unsupported declaration")                                           \
    X(UnsupportedFvf, "unsupported FVF")                                                           \
    /* Device state */                                                                             \
    X(RenderTargetIndex, "render target index above 3")                                            \
    X(OnlyRenderTarget0, "only render target 0 is supported")                                      \
    X(RenderTarget0Unset, "render target 0 cannot be unset")                                       \
    X(NotRenderTargetSurface, "the surface is not of a D3DUSAGE_RENDERTARGET texture")             \
    X(NotDepthSurface, "the surface is not a depth-stencil surface")                               \
    X(StreamOutOfRange, "stream number out of range")                                              \
    X(RenderStateOutOfRange, "render state out of range")                                          \
    X(StageOutOfRange, "stage out of range")                                                       \
    X(SamplerStateOutOfRange, "sampler or sampler state out of range")                             \
    /* Draws and clears */                                                                         \
    X(UnsupportedPrimitive, "unsupported primitive type")                                          \
    X(NoPrimitives, "no primitives")                                                               \
    X(NegativeFirstVertex, "the first vertex is negative")                                         \
    X(NoVertices, "no vertices")                                                                   \
    X(NoProgram, "no program set")                                                                 \
    X(NoVertexDeclaration, "no vertex declaration set")                                            \
    X(NoIndexBuffer, "no index buffer set")                                                        \
    X(VerticesPastStream, "a stream has no buffer or the vertices run past its end")               \
    X(IndicesPastBuffer, "the indices run past the end of the index buffer")                       \
    X(StreamUnset, "a stream the declaration reads has no buffer or a zero stride")                \
    X(UnsupportedClearFlags, "unsupported flags")                                                  \
    X(ClearWithoutDepth, "depth or stencil cleared without a depth surface")                       \
    X(DepthSmallerThanTarget, "the depth surface is smaller than the render target")               \
    X(FramebufferIncomplete, "the framebuffer is incomplete")                                      \
    /* Read-back */                                                                                \
    X(SourceNotRenderTarget, "the source is not a render target")                                  \
    X(DestinationNotSystemMem, "the destination is not in D3DPOOL_SYSTEMMEM")                      \
    X(FormatsDiffer, "the formats differ")                                                         \
    X(SizesDiffer, "the sizes differ")                                                             \
    X(DestinationLocked, "the destination is locked")                                              \
    /* Levels and locks */                                                                         \
    X(LevelOutOfRange, "level out of range")                                                       \
    X(NoMemoryToLock, "a default-pool texture that is not D3DUSAGE_DYNAMIC has no memory")         \
    X(RegionOutsideLevel, "the region is empty or reaches past the level")                         \
    X(NegativeRectangle, "the rectangle starts at a negative coordinate")                          \
    X(LevelLocked, "the level is locked already")                                                  \
    X(LevelNotLocked, "the level is not locked")                                                   \
    X(RangePastBuffer, "the range reaches past the end of the buffer")                             \
    X(BufferNotLocked, "the buffer is not locked")                                                 \
    /* Device lifetime */                                                                          \
    X(DefaultPoolAlive, "default-pool objects are still alive")                                    \
    /* D3DX meshes */                                                                              \
    X(NoFacesOrVertices, "no faces or no vertices")                                                \
    X(TooManyVertices, "more vertices than 16-bit indices reach")                                  \
    X(UnsupportedMeshOptions, "unsupported mesh options")                                          \
    X(BuffersPast4GiB, "buffers past 4 GiB")                                                       \
    X(ElementChangesType, "an element changes type")                                               \
    X(BuffersNotLockable, "the buffers cannot be locked")                                          \
    X(NoPosition, "no position element")                                                           \
    X(NegativeEpsilon, "a negative epsilon")                                                       \
    X(IndexOutOfRange, "an index is out of range")                                                 \
    X(UnsupportedTangentArguments, "unsupported arguments (only normals computed in place)")       \
    X(NoMeshDeclaration, "the mesh has no declaration")                                            \
    X(NormalNotFloat3, "no normal element, or the normal is not FLOAT3")                           \
    X(InconsistentAdjacency, "the adjacency is inconsistent")                                      \
    /* D3DX textures */                                                                            \
    X(UnsupportedFilter, "unsupported filter")                                                     \
    X(ColorKey, "a colour key is not supported")                                                   \
    X(NoVolumeDescription, "the volume has no description")                                        \
    X(BoxOutsideVolume, "unsupported destination format, or the box reaches past the volume")      \
    X(BoxOutsideImage, "the source box reaches past the image")                                    \
    /* D3DX effects */                                                                             \
    X(NoTechniqueName, "no technique name")                                                        \
    X(UnknownTechnique, "no technique of that name")                                               \
    X(UnknownTexture, "no texture parameter of that name and kind")                                \
    X(UnknownInt, "no int parameter of that name")                                                 \
    X(UnknownFloats, "no parameter of that name and type")                                         \
    X(InsideBegin, "inside Begin/End already")                                                     \
    X(OutsideBegin, "outside Begin/End")                                                           \
    X(UnsupportedBeginFlags, "unsupported Begin flags")                                            \
    X(PassOpen, "a pass is open already")                                                          \
    X(PassOutOfRange, "pass out of range")                                                         \
    X(NoPassOpen, "no pass open")                                                                  \
    /* Queries */                                                                                  \
    X(UnsupportedIssueFlags, "flags other than one of D3DISSUE_BEGIN and D3DISSUE_END")            \
    X(BeginOnNonDisjointQuery, "only a disjoint query has a D3DISSUE_BEGIN")                       \
    X(QueryOfAnotherThread, "a timestamp query belongs to the thread that first issued it")        \
    X(QueryDataSize, "the data size is not the query's (GetDataSize) or 0")                        \
    X(QueryNotIssued, "the query was not issued with D3DISSUE_END")

enum class Refusal {
    None,
#define D3D9GL_REFUSAL_NAME(name, reason) name,
    D3D9GL_REFUSALS(D3D9GL_REFUSAL_NAME)
#undef D3D9GL_REFUSAL_NAME
};

// The text of a cause ("" for None).
const char* refusalReason(Refusal cause);

// Records `cause` as the calling thread's last refusal, reports it when GORVANE_D3D_DEBUG=1,
// and returns D3DERR_INVALIDCALL.
HRESULT refuse(const char* call, Refusal cause);

// The cause of the calling thread's last refused call (None before any), and clears it, so
// that a caller checks the cause of exactly the call it made since.
Refusal takeLastRefusal();

} // namespace d3d9gl
