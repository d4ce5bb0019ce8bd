// The layer's own classes behind the Direct3D interfaces. Only the layer's .cpp files include
// this header; other modules use d3d9.h and gl_device.h.
#pragma once

#include "d3d9.h"
#include "gl_context.h"
#include "gl_device.h"
#include "gl_formats.h"
#include "refusal.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace d3d9gl {

class Device;

// Direct3D's reference count plus the holds of device bindings, in one atomic word (public
// count in the low half, holds in the high half). A binding keeps the object's memory alive but
// not its public count, so an application may release a bound object as on Direct3D 9. While
// the public count is above zero the object counts as live (default pool) and keeps its device.
class Resource {
  public:
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    Device* device() const { return device_; }
    void hold();
    void drop();

  protected:
    // `counted`: a default-pool object that liveDefaultPoolObjects counts; `ownsDeviceRef`:
    // false only for the device's implicit surfaces, which the device itself owns.
    Resource(Device* device, bool counted, bool ownsDeviceRef);
    virtual ~Resource() = default;
    ULONG addPublic();
    ULONG releasePublic();
    HRESULT deviceOut(IDirect3DDevice9** device);

  private:
    void onPublicRevived();
    static constexpr std::uint64_t kHold = std::uint64_t{1} << 32;
    static constexpr std::uint64_t kPublicMask = kHold - 1;

    Device* device_;
    bool counted_;
    bool ownsDeviceRef_;
    std::atomic<std::uint64_t> counts_{1};
};

// A region of one level, in texels.
struct Box {
    UINT left, top, front, right, bottom, back;
};

// Storage shared by 2D and volume textures: the levels, the system copy (managed, system-memory
// and dynamic default-pool textures) and the GL texture (every pool but system memory).
class TextureCore : public Resource {
  public:
    struct Level {
        UINT width, height, depth;
        std::size_t offset; // into the system copy
        std::size_t rowPitch, slicePitch;
    };

    const FormatInfo& format() const { return *format_; }
    DWORD usage() const { return usage_; }
    D3DPOOL pool() const { return pool_; }
    GLenum target() const { return target_; }
    UINT levelCount() const { return static_cast<UINT>(levels_.size()); }
    const Level& level(UINT index) const { return levels_[index]; }
    bool hasSystemCopy() const { return !memory_.empty(); }
    bool hasGl() const { return pool_ != D3DPOOL_SYSTEMMEM; }
    GLuint glName() const { return glName_.load(); }
    std::uint64_t glId() const { return glId_.load(); }
    std::uint8_t* levelBits(UINT index) { return memory_.data() + levels_[index].offset; }

    // On the calling thread's bound context, under the device's mutex.
    void createGl();
    void recreateGl(); // device reset: a new GL texture filled from the system copy
    // A new GL texture (name and id) holding a GPU copy of every level; returns the old name,
    // which the caller retires once the work queued against it is done (see gl_device.h).
    GLuint renameGl();
    void upload(UINT level, const Box& box);

    HRESULT lock(UINT level, const Box* box, DWORD flags, std::uint8_t** bits);
    HRESULT unlock(UINT level);
    bool isLocked(UINT level);

  protected:
    TextureCore(Device* device, GLenum target, const FormatInfo& format, UINT width, UINT height,
                UINT depth, UINT levels, DWORD usage, D3DPOOL pool, bool implicit);
    ~TextureCore() override;

  private:
    // New GL storage for every level, contents undefined.
    GLuint allocateGl() const;
    // The system copy's bytes at the box's first texel (left, top, front) of a level.
    std::uint8_t* cornerBits(UINT level, const Box& box);

    const FormatInfo* format_;
    DWORD usage_;
    D3DPOOL pool_;
    GLenum target_;
    std::vector<Level> levels_;
    std::vector<std::uint8_t> memory_;
    std::atomic<GLuint> glName_{0};
    std::atomic<std::uint64_t> glId_{0};

    struct LockState {
        bool locked = false;
        bool readOnly = false;
        Box box{};
    };
    std::mutex lockMutex_;
    std::vector<LockState> locks_;
};

class Texture;
class VolumeTexture;

// A level of a 2D texture; it shares its texture's reference count, as on Direct3D 9.
class Surface final : public IDirect3DSurface9 {
  public:
    Surface(Texture* texture, UINT level) : texture_(texture), level_(level) {}
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;

    Texture* texture() const { return texture_; }
    UINT level() const { return level_; }

  private:
    Texture* texture_;
    UINT level_;
};

// The layer's surface behind a surface interface pointer it handed out.
inline Surface* asSurface(IDirect3DSurface9* surface) {
    return static_cast<Surface*>(surface);
}

class Texture final : public IDirect3DTexture9, public TextureCore {
  public:
    Texture(Device* device, const FormatInfo& format, UINT width, UINT height, UINT levels,
            DWORD usage, D3DPOOL pool, bool implicit);
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return deviceOut(ppDevice); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return levelCount(); }
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override { return unlock(Level); }

    Surface* surface(UINT level) { return surfaces_[level].get(); }

  private:
    std::vector<std::unique_ptr<Surface>> surfaces_;
};

// A level of a volume texture; it shares its texture's reference count.
class Volume final : public IDirect3DVolume9 {
  public:
    Volume(VolumeTexture* texture, UINT level) : texture_(texture), level_(level) {}
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDesc(D3DVOLUME_DESC* pDesc) override;
    HRESULT LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) override;
    HRESULT UnlockBox() override;

  private:
    VolumeTexture* texture_;
    UINT level_;
};

class VolumeTexture final : public IDirect3DVolumeTexture9, public TextureCore {
  public:
    VolumeTexture(Device* device, const FormatInfo& format, UINT width, UINT height, UINT depth,
                  UINT levels, DWORD usage, D3DPOOL pool);
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return deviceOut(ppDevice); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VOLUMETEXTURE; }
    DWORD GetLevelCount() override { return levelCount(); }
    HRESULT GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc) override;
    HRESULT GetVolumeLevel(UINT Level, IDirect3DVolume9** ppVolumeLevel) override;
    HRESULT LockBox(UINT Level, D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox,
                    DWORD Flags) override;
    HRESULT UnlockBox(UINT Level) override { return unlock(Level); }

  private:
    std::vector<std::unique_ptr<Volume>> volumes_;
};

// The layer's object behind any texture interface pointer it handed out.
TextureCore* textureCore(IDirect3DBaseTexture9* texture);

// Vertex and index buffers: the data lives in memory; the GL buffer follows it on the drawing
// thread.
class BufferCore : public Resource {
  public:
    UINT size() const { return static_cast<UINT>(data_.size()); }
    DWORD usage() const { return usage_; }
    D3DPOOL pool() const { return pool_; }

    HRESULT lock(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT unlock();
    // On the drawing thread, context bound: creates or updates the GL buffer from memory.
    // True when it uploaded.
    bool prepareForDraw(GLuint* name, std::uint64_t* id);
    // Device reset: forgets the GL buffer (deleted on the calling thread's bound context); the
    // next draw makes a new one from memory.
    void forgetGl();

  protected:
    BufferCore(Device* device, UINT length, DWORD usage, D3DPOOL pool);
    ~BufferCore() override;

  private:
    std::vector<std::uint8_t> data_;
    DWORD usage_;
    D3DPOOL pool_;

    std::mutex mutex_;
    int lockCount_ = 0;
    std::size_t dirtyBegin_ = 0, dirtyEnd_ = 0; // written since the last upload
    std::size_t lockBegin_ = 0, lockEnd_ = 0;   // union of the open writable locks
    GLuint glName_ = 0;
    std::uint64_t glId_ = 0;
};

class VertexBuffer final : public IDirect3DVertexBuffer9, public BufferCore {
  public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
        : BufferCore(device, length, usage, pool), fvf_(fvf) {}
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return deviceOut(ppDevice); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override {
        return lock(OffsetToLock, SizeToLock, ppbData, Flags);
    }
    HRESULT Unlock() override { return unlock(); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

  private:
    DWORD fvf_;
};

class IndexBuffer final : public IDirect3DIndexBuffer9, public BufferCore {
  public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : BufferCore(device, length, usage, pool), format_(format) {}
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return deviceOut(ppDevice); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override {
        return lock(OffsetToLock, SizeToLock, ppbData, Flags);
    }
    HRESULT Unlock() override { return unlock(); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

    D3DFORMAT format() const { return format_; }

  private:
    D3DFORMAT format_;
};

class VertexDeclaration final : public IDirect3DVertexDeclaration9, public Resource {
  public:
    VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements);
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) override;

    const std::vector<D3DVERTEXELEMENT9>& elements() const { return elements_; }
    std::uint64_t id() const { return id_; }
    std::uint32_t streamMask() const { return streamMask_; }

  private:
    std::vector<D3DVERTEXELEMENT9> elements_; // without the end marker
    std::uint64_t id_;
    std::uint32_t streamMask_ = 0;
};

// A query (gl_device_queries.cpp). Timestamps are GL query objects, which are not shared
// between contexts: one belongs to the context of the thread that first issued it. Events are
// fence syncs, which every context of the share group sees.
class Query final : public IDirect3DQuery9, public Resource {
  public:
    Query(Device* device, D3DQUERYTYPE type) : Resource(device, false, true), type_(type) {}
    ULONG AddRef() override { return addPublic(); }
    ULONG Release() override { return releasePublic(); }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return deviceOut(ppDevice); }
    D3DQUERYTYPE GetType() override { return type_; }
    DWORD GetDataSize() override;
    HRESULT Issue(DWORD dwIssueFlags) override;
    HRESULT GetData(void* pData, DWORD dwSize, DWORD dwGetDataFlags) override;

  private:
    ~Query() override;

    const D3DQUERYTYPE type_;
    std::mutex mutex_;
    bool issued_ = false; // an Issue(D3DISSUE_END) happened
    GLsync fence_ = nullptr;
    GLuint timerQuery_ = 0;
    int ownerSlot_ = -1; // the context slot of timerQuery_
};

// The device. Its members are defined by role: gl_device_lifetime.cpp (making, references,
// reset), gl_device_creation.cpp (Create*), gl_device_state.cpp (Set*/Get* and defaults),
// gl_device_pipeline.cpp (applying the state to a context, batch bookkeeping),
// gl_device_draw.cpp (draws, clears, the back buffer for other layers) and
// gl_device_transfers.cpp (uploads, read-backs, present); gl_device.cpp holds the free
// functions of gl_device.h and gl_enum_tables.cpp the enumeration tables.
class Device final : public IDirect3DDevice9 {
  public:
    Device(std::shared_ptr<ContextPool> pool, UINT width, UINT height);
    // Makes the implicit surfaces and sets the default state, on the calling thread.
    HRESULT initialise();

    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                          D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                          HANDLE* pSharedHandle) override;
    HRESULT CreateVolumeTexture(UINT Width, UINT Height, UINT Depth, UINT Levels, DWORD Usage,
                                D3DFORMAT Format, D3DPOOL Pool,
                                IDirect3DVolumeTexture9** ppVolumeTexture,
                                HANDLE* pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer,
                               HANDLE* pSharedHandle) override;
    HRESULT CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DIndexBuffer9** ppIndexBuffer,
                              HANDLE* pSharedHandle) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                    IDirect3DVertexDeclaration9** ppDecl) override;
    HRESULT CreateQuery(D3DQUERYTYPE Type, IDirect3DQuery9** ppQuery) override;

    HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget,
                                IDirect3DSurface9* pDestSurface) override;
    HRESULT Clear(DWORD Count, const RECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override;

    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                            UINT OffsetInBytes, UINT Stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* pIndexData) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                          UINT PrimitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE Type, INT BaseVertexIndex, UINT MinVertexIndex,
                                 UINT NumVertices, UINT startIndex, UINT primCount) override;

    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;

    // The layer's side (gl_device.h).
    ContextPool& contextPool() { return *pool_; }
    const std::string& renderer() const { return renderer_; }
    void setProgram(GLuint program);
    GLuint program();
    void deleteProgram(GLuint program);
    void bindBackBufferForDrawing();
    HRESULT readBackBuffer(std::vector<std::uint8_t>& rgba);
    void present();
    UINT liveDefaultPoolObjects() const { return liveDefault_.load(); }
    HRESULT reset();

    // Bookkeeping for the resources.
    void countDefault(int delta) { liveDefault_.fetch_add(static_cast<UINT>(delta)); }
    void registerSurvivor(TextureCore* texture);
    void unregisterSurvivor(TextureCore* texture);
    void registerSurvivor(BufferCore* buffer);
    void unregisterSurvivor(BufferCore* buffer);
    // Uploads a changed box of a texture's system copy on the calling thread.
    void uploadTexture(TextureCore& texture, UINT level, const Box& box);

  private:
    ~Device();

    static constexpr int kStages = 16;
    static constexpr int kStreams = ContextState::kStreams;
    static constexpr int kRenderStates = 256;
    static constexpr int kSamplerStates = 14;

    struct Stream {
        VertexBuffer* buffer = nullptr;
        UINT offset = 0;
        UINT stride = 0;
    };

    template <class T> static void rebind(T*& slot, T* value);
    void setDefaultState();
    void unbindAll();
    // Attaches the surfaces to the context's framebuffer and binds it; why they cannot be
    // drawn into, or Refusal::None.
    Refusal attach(ContextState& context, Surface* color, Surface* depth);
    // Records that the calling context draws into the surfaces (its batch).
    void noteWrites(Surface* color, Surface* depth);
    // Reports use of an object that another thread drew into without ending its batch.
    void checkPublished(const TextureCore* texture, const char* use);
    // Before the calling context writes the texture: when another context's open batch samples
    // it, gives the texture new GL storage so that those queued reads keep the old one.
    void separateFromQueuedReads(TextureCore& texture);
    // Records the textures the draw samples in the calling context's batch.
    void noteReads();
    // False when a stream the declaration reads has no buffer or a zero stride.
    bool applyVertexInput(ContextState& context, bool indexed, bool* uploaded);
    void applyPipeline(ContextState& context);
    GLuint samplerFor(ContextState& context, int stage);
    struct DrawRange {
        bool indexed;
        UINT first; // first vertex, or first index
        INT baseVertex;
        UINT minVertex;
        UINT vertices;
    };
    HRESULT draw(D3DPRIMITIVETYPE type, UINT primitives, const DrawRange& range);
    void clearImplicitSurfaces();
    // Makes a new texture's GL object (unless it lives in system memory) and publishes it.
    void createTextureGl(TextureCore& texture);

    std::atomic<ULONG> refs_{1};
    std::shared_ptr<ContextPool> pool_;
    UINT width_, height_;
    std::string renderer_;
    std::atomic<UINT> liveDefault_{0};

    std::mutex registryMutex_;
    // What a reset keeps: managed textures, and buffers outside the default pool.
    std::set<TextureCore*> survivingTextures_;
    std::set<BufferCore*> survivingBuffers_;

    // Direct3D state, under mutex_.
    std::mutex mutex_;
    Texture* backBuffer_ = nullptr;
    Texture* depthBuffer_ = nullptr;
    Surface* renderTarget_ = nullptr;
    Surface* depthSurface_ = nullptr;
    VertexDeclaration* declaration_ = nullptr;
    Stream streams_[kStreams];
    IndexBuffer* indices_ = nullptr;
    IDirect3DBaseTexture9* textures_[kStages] = {};
    DWORD renderStates_[kRenderStates] = {};
    DWORD samplerStates_[kStages][kSamplerStates] = {};
    GLuint program_ = 0;
};

} // namespace d3d9gl
