#include "gl_internal.h"

#include "failure_injection.h"
#include "refusal.h"

#include <algorithm>
#include <cassert>

namespace d3d9gl {

// ---------------------------------------------------------------------------------------------
// Reference counts
// ---------------------------------------------------------------------------------------------
Resource::Resource(Device* device, bool counted, bool ownsDeviceRef)
    : device_(device), counted_(counted), ownsDeviceRef_(ownsDeviceRef) {
    onPublicRevived();
}

void Resource::onPublicRevived() {
    if (counted_) {
        device_->countDefault(1);
    }
    if (ownsDeviceRef_) {
        device_->AddRef();
    }
}

ULONG Resource::addPublic() {
    const std::uint64_t old = counts_.fetch_add(1);
    if ((old & kPublicMask) == 0) {
        onPublicRevived();
    }
    return static_cast<ULONG>((old & kPublicMask) + 1);
}

ULONG Resource::releasePublic() {
    // Copied first: once the count drops, a binding released on another thread may delete us.
    Device* device = device_;
    const bool counted = counted_;
    const bool ownsDeviceRef = ownsDeviceRef_;
    const std::uint64_t old = counts_.fetch_sub(1);
    const ULONG remaining = static_cast<ULONG>((old & kPublicMask) - 1);
    if (remaining == 0) {
        if (counted) {
            device->countDefault(-1);
        }
        if (old == 1) {
            delete this;
        }
        if (ownsDeviceRef) {
            device->Release();
        }
    }
    return remaining;
}

void Resource::hold() {
    counts_.fetch_add(kHold);
}

void Resource::drop() {
    if (counts_.fetch_sub(kHold) == kHold) {
        delete this;
    }
}

HRESULT Resource::deviceOut(IDirect3DDevice9** device) {
    if (device == nullptr) {
        return refuse("GetDevice", Refusal::NoDevicePointer);
    }
    device_->AddRef();
    *device = device_;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Textures
// ---------------------------------------------------------------------------------------------
namespace {

// Unpack state for moving a box of a level out of a packed system copy, set fully because
// other layers issue their own GL calls on the same contexts.
struct UnpackState {
    UnpackState(GLint rowLength, GLint imageHeight) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
        glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, imageHeight);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_SKIP_IMAGES, 0);
        glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    }
    ~UnpackState() {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
    }
};

} // namespace

TextureCore::TextureCore(Device* device, GLenum target, const FormatInfo& format, UINT width,
                         UINT height, UINT depth, UINT levels, DWORD usage, D3DPOOL pool,
                         bool implicit)
    : Resource(device, pool == D3DPOOL_DEFAULT && !implicit, !implicit), format_(&format),
      usage_(usage), pool_(pool), target_(target) {
    std::size_t total = 0;
    for (UINT i = 0; i < levels; ++i) {
        Level level;
        level.width = std::max(1u, width >> i);
        level.height = std::max(1u, height >> i);
        level.depth = std::max(1u, depth >> i);
        level.offset = total;
        level.rowPitch = std::size_t{level.width} * format.bytesPerTexel;
        level.slicePitch = level.rowPitch * level.height;
        total += level.slicePitch * level.depth;
        levels_.push_back(level);
    }
    if (pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC) != 0) {
        memory_.assign(total, 0);
    }
    locks_.resize(levels);
    if (pool == D3DPOOL_MANAGED) {
        device->registerSurvivor(this);
    }
}

TextureCore::~TextureCore() {
    if (pool_ == D3DPOOL_MANAGED) {
        device()->unregisterSurvivor(this);
    }
    if (const GLuint name = glName_.load(); name != 0) {
        device()->contextPool().deleteObject(ContextPool::ObjectKind::Texture, name);
    }
}

GLuint TextureCore::allocateGl() const {
    GLuint name = 0;
    glCreateTextures(target_, 1, &name);
    const auto count = static_cast<GLsizei>(levels_.size());
    const Level& top = levels_.front();
    if (target_ == GL_TEXTURE_3D) {
        glTextureStorage3D(name, count, format_->internalFormat, static_cast<GLsizei>(top.width),
                           static_cast<GLsizei>(top.height), static_cast<GLsizei>(top.depth));
    } else {
        glTextureStorage2D(name, count, format_->internalFormat, static_cast<GLsizei>(top.width),
                           static_cast<GLsizei>(top.height));
    }
    glTextureParameteriv(name, GL_TEXTURE_SWIZZLE_RGBA, format_->swizzle);
    return name;
}

void TextureCore::createGl() {
    glName_ = allocateGl();
    glId_ = newObjectId();
    if (hasSystemCopy()) {
        for (UINT i = 0; i < levelCount(); ++i) {
            const Level& level = levels_[i];
            upload(i, Box{0, 0, 0, level.width, level.height, level.depth});
        }
    }
}

void TextureCore::recreateGl() {
    const GLuint old = glName_.exchange(0);
    glDeleteTextures(1, &old);
    createGl();
}

GLuint TextureCore::renameGl() {
    const GLuint old = glName_.load();
    const GLuint name = allocateGl();
    for (UINT i = 0; i < levelCount(); ++i) {
        const Level& level = levels_[i];
        const auto index = static_cast<GLint>(i);
        glCopyImageSubData(old, target_, index, 0, 0, 0, name, target_, index, 0, 0, 0,
                           static_cast<GLsizei>(level.width), static_cast<GLsizei>(level.height),
                           static_cast<GLsizei>(level.depth));
    }
    glName_ = name;
    glId_ = newObjectId();
    return old;
}

void TextureCore::upload(UINT index, const Box& box) {
    const Level& level = levels_[index];
    const UnpackState unpack(static_cast<GLint>(level.width), static_cast<GLint>(level.height));
    const std::uint8_t* bits = cornerBits(index, box);
    const auto level_ = static_cast<GLint>(index);
    if (target_ == GL_TEXTURE_3D) {
        glTextureSubImage3D(
            glName_, level_, static_cast<GLint>(box.left), static_cast<GLint>(box.top),
            static_cast<GLint>(box.front), static_cast<GLsizei>(box.right - box.left),
            static_cast<GLsizei>(box.bottom - box.top), static_cast<GLsizei>(box.back - box.front),
            format_->transferFormat, format_->transferType, bits);
    } else {
        glTextureSubImage2D(glName_, level_, static_cast<GLint>(box.left),
                            static_cast<GLint>(box.top), static_cast<GLsizei>(box.right - box.left),
                            static_cast<GLsizei>(box.bottom - box.top), format_->transferFormat,
                            format_->transferType, bits);
    }
}

std::uint8_t* TextureCore::cornerBits(UINT index, const Box& box) {
    const Level& level = levels_[index];
    return memory_.data() + level.offset + box.front * level.slicePitch + box.top * level.rowPitch +
           box.left * format_->bytesPerTexel;
}

HRESULT TextureCore::lock(UINT index, const Box* box, DWORD flags, std::uint8_t** bits) {
    // LockRect and LockBox refused a missing result or a level out of range already.
    assert(index < levelCount() && bits != nullptr);
    const char* call = target_ == GL_TEXTURE_3D ? "LockBox" : "LockRect";
    if (!hasSystemCopy()) {
        return refuse(call, Refusal::NoMemoryToLock);
    }
    const Level& level = levels_[index];
    const Box whole{0, 0, 0, level.width, level.height, level.depth};
    const Box region = box != nullptr ? *box : whole;
    if (region.left >= region.right || region.right > level.width || region.top >= region.bottom ||
        region.bottom > level.height || region.front >= region.back || region.back > level.depth) {
        return refuse(call, Refusal::RegionOutsideLevel);
    }
    std::lock_guard guard(lockMutex_);
    LockState& state = locks_[index];
    if (state.locked) {
        return refuse(call, Refusal::LevelLocked);
    }
    state = LockState{true, (flags & D3DLOCK_READONLY) != 0, region};
    *bits = cornerBits(index, region);
    return S_OK;
}

HRESULT TextureCore::unlock(UINT index) {
    const char* call = target_ == GL_TEXTURE_3D ? "UnlockBox" : "UnlockRect";
    if (index >= levelCount()) {
        return refuse(call, Refusal::LevelOutOfRange);
    }
    LockState state;
    {
        std::lock_guard guard(lockMutex_);
        state = locks_[index];
        if (!state.locked) {
            return refuse(call, Refusal::LevelNotLocked);
        }
        locks_[index].locked = false;
    }
    if (!state.readOnly && hasGl()) {
        device()->uploadTexture(*this, index, state.box);
    }
    return S_OK;
}

bool TextureCore::isLocked(UINT index) {
    std::lock_guard guard(lockMutex_);
    return locks_[index].locked;
}

TextureCore* textureCore(IDirect3DBaseTexture9* texture) {
    if (texture == nullptr) {
        return nullptr;
    }
    switch (texture->GetType()) {
    case D3DRTYPE_TEXTURE:
        return static_cast<Texture*>(static_cast<IDirect3DTexture9*>(texture));
    case D3DRTYPE_VOLUMETEXTURE:
        return static_cast<VolumeTexture*>(static_cast<IDirect3DVolumeTexture9*>(texture));
    default:
        return nullptr;
    }
}

Texture::Texture(Device* device, const FormatInfo& format, UINT width, UINT height, UINT levels,
                 DWORD usage, D3DPOOL pool, bool implicit)
    : TextureCore(device, GL_TEXTURE_2D, format, width, height, 1, levels, usage, pool, implicit) {
    for (UINT i = 0; i < levels; ++i) {
        surfaces_.push_back(std::make_unique<Surface>(this, i));
    }
}

HRESULT Texture::GetLevelDesc(UINT index, D3DSURFACE_DESC* desc) {
    if (desc == nullptr || index >= levelCount()) {
        return refuse("GetLevelDesc",
                      desc == nullptr ? Refusal::NoDescriptionPointer : Refusal::LevelOutOfRange);
    }
    *desc = D3DSURFACE_DESC{format().format, D3DRTYPE_SURFACE,   usage(),
                            pool(),          level(index).width, level(index).height};
    return S_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT index, IDirect3DSurface9** surface) {
    if (surface == nullptr || index >= levelCount()) {
        return refuse("GetSurfaceLevel",
                      surface == nullptr ? Refusal::NoSurfacePointer : Refusal::LevelOutOfRange);
    }
    AddRef();
    *surface = surfaces_[index].get();
    return S_OK;
}

HRESULT Texture::LockRect(UINT index, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (locked == nullptr || index >= levelCount()) {
        return refuse("LockRect",
                      locked == nullptr ? Refusal::NoResultPointer : Refusal::LevelOutOfRange);
    }
    if (injectedFailure("LockRect")) return E_OUTOFMEMORY;
    Box box{};
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0) {
            return refuse("LockRect", Refusal::NegativeRectangle);
        }
        box = Box{static_cast<UINT>(rect->left),  static_cast<UINT>(rect->top),    0,
                  static_cast<UINT>(rect->right), static_cast<UINT>(rect->bottom), 1};
    }
    std::uint8_t* bits = nullptr;
    const HRESULT result = lock(index, rect != nullptr ? &box : nullptr, flags, &bits);
    if (SUCCEEDED(result)) {
        locked->Pitch = static_cast<INT>(level(index).rowPitch);
        locked->pBits = bits;
    }
    return result;
}

ULONG Surface::AddRef() {
    return texture_->AddRef();
}
ULONG Surface::Release() {
    return texture_->Release();
}
HRESULT Surface::GetDevice(IDirect3DDevice9** device) {
    return texture_->GetDevice(device);
}
HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    return texture_->GetLevelDesc(level_, desc);
}
HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    return texture_->LockRect(level_, locked, rect, flags);
}
HRESULT Surface::UnlockRect() {
    return texture_->UnlockRect(level_);
}

VolumeTexture::VolumeTexture(Device* device, const FormatInfo& format, UINT width, UINT height,
                             UINT depth, UINT levels, DWORD usage, D3DPOOL pool)
    : TextureCore(device, GL_TEXTURE_3D, format, width, height, depth, levels, usage, pool, false) {
    for (UINT i = 0; i < levels; ++i) {
        volumes_.push_back(std::make_unique<Volume>(this, i));
    }
}

HRESULT VolumeTexture::GetLevelDesc(UINT index, D3DVOLUME_DESC* desc) {
    if (desc == nullptr || index >= levelCount()) {
        return refuse("GetLevelDesc",
                      desc == nullptr ? Refusal::NoDescriptionPointer : Refusal::LevelOutOfRange);
    }
    const Level& l = level(index);
    *desc = D3DVOLUME_DESC{format().format, D3DRTYPE_VOLUME, usage(), pool(),
                           l.width,         l.height,        l.depth};
    return S_OK;
}

HRESULT VolumeTexture::GetVolumeLevel(UINT index, IDirect3DVolume9** volume) {
    if (volume == nullptr || index >= levelCount()) {
        return refuse("GetVolumeLevel",
                      volume == nullptr ? Refusal::NoVolumePointer : Refusal::LevelOutOfRange);
    }
    AddRef();
    *volume = volumes_[index].get();
    return S_OK;
}

HRESULT VolumeTexture::LockBox(UINT index, D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
    if (locked == nullptr || index >= levelCount()) {
        return refuse("LockBox",
                      locked == nullptr ? Refusal::NoResultPointer : Refusal::LevelOutOfRange);
    }
    Box region{};
    if (box != nullptr) {
        region = Box{box->Left, box->Top, box->Front, box->Right, box->Bottom, box->Back};
    }
    std::uint8_t* bits = nullptr;
    const HRESULT result = lock(index, box != nullptr ? &region : nullptr, flags, &bits);
    if (SUCCEEDED(result)) {
        locked->RowPitch = static_cast<INT>(level(index).rowPitch);
        locked->SlicePitch = static_cast<INT>(level(index).slicePitch);
        locked->pBits = bits;
    }
    return result;
}

ULONG Volume::AddRef() {
    return texture_->AddRef();
}
ULONG Volume::Release() {
    return texture_->Release();
}
HRESULT Volume::GetDesc(D3DVOLUME_DESC* desc) {
    return texture_->GetLevelDesc(level_, desc);
}
HRESULT Volume::LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
    return texture_->LockBox(level_, locked, box, flags);
}
HRESULT Volume::UnlockBox() {
    return texture_->UnlockBox(level_);
}

// ---------------------------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------------------------
namespace {

// Grows the byte range [begin, end) to cover [from, to); an empty range becomes [from, to).
void extendRange(std::size_t& begin, std::size_t& end, std::size_t from, std::size_t to) {
    if (end == begin) {
        begin = from;
        end = to;
    } else {
        begin = std::min(begin, from);
        end = std::max(end, to);
    }
}

} // namespace

BufferCore::BufferCore(Device* device, UINT length, DWORD usage, D3DPOOL pool)
    : Resource(device, pool == D3DPOOL_DEFAULT, true), data_(length, 0), usage_(usage),
      pool_(pool) {
    if (pool != D3DPOOL_DEFAULT) {
        device->registerSurvivor(this);
    }
}

BufferCore::~BufferCore() {
    if (pool_ != D3DPOOL_DEFAULT) {
        device()->unregisterSurvivor(this);
    }
    std::lock_guard guard(mutex_);
    if (glName_ != 0) {
        device()->contextPool().deleteObject(ContextPool::ObjectKind::Buffer, glName_);
    }
}

HRESULT BufferCore::lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (data == nullptr) {
        return refuse("Lock", Refusal::NoResultPointer);
    }
    const std::size_t length = data_.size();
    const std::size_t count = size == 0 ? length - std::min<std::size_t>(offset, length) : size;
    if (offset >= length || count > length - offset) {
        return refuse("Lock", Refusal::RangePastBuffer);
    }
    std::lock_guard guard(mutex_);
    ++lockCount_;
    if ((flags & D3DLOCK_READONLY) == 0) {
        extendRange(lockBegin_, lockEnd_, offset, offset + count);
    }
    *data = data_.data() + offset;
    return S_OK;
}

HRESULT BufferCore::unlock() {
    std::lock_guard guard(mutex_);
    if (lockCount_ == 0) {
        return refuse("Unlock", Refusal::BufferNotLocked);
    }
    if (--lockCount_ == 0 && lockEnd_ > lockBegin_) {
        extendRange(dirtyBegin_, dirtyEnd_, lockBegin_, lockEnd_);
        lockBegin_ = lockEnd_ = 0;
    }
    return S_OK;
}

bool BufferCore::prepareForDraw(GLuint* name, std::uint64_t* id) {
    std::lock_guard guard(mutex_);
    bool uploaded = true;
    if (glName_ == 0) {
        glCreateBuffers(1, &glName_);
        glNamedBufferData(glName_, static_cast<GLsizeiptr>(data_.size()), data_.data(),
                          (usage_ & D3DUSAGE_DYNAMIC) != 0 ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
        glId_ = newObjectId();
        dirtyBegin_ = dirtyEnd_ = 0;
    } else if (dirtyEnd_ > dirtyBegin_) {
        glNamedBufferSubData(glName_, static_cast<GLintptr>(dirtyBegin_),
                             static_cast<GLsizeiptr>(dirtyEnd_ - dirtyBegin_),
                             data_.data() + dirtyBegin_);
        dirtyBegin_ = dirtyEnd_ = 0;
    } else {
        uploaded = false;
    }
    *name = glName_;
    *id = glId_;
    return uploaded;
}

void BufferCore::forgetGl() {
    std::lock_guard guard(mutex_);
    if (glName_ != 0) {
        glDeleteBuffers(1, &glName_);
        glName_ = 0;
        glId_ = 0;
    }
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (desc == nullptr) {
        return refuse("GetDesc", Refusal::NoDescriptionPointer);
    }
    *desc =
        D3DVERTEXBUFFER_DESC{D3DFMT_UNKNOWN, D3DRTYPE_VERTEXBUFFER, usage(), pool(), size(), fvf_};
    return S_OK;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (desc == nullptr) {
        return refuse("GetDesc", Refusal::NoDescriptionPointer);
    }
    *desc = D3DINDEXBUFFER_DESC{format_, D3DRTYPE_INDEXBUFFER, usage(), pool(), size()};
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Vertex declarations
// ---------------------------------------------------------------------------------------------
VertexDeclaration::VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements)
    : Resource(device, false, true), elements_(std::move(elements)), id_(newObjectId()) {
    for (const D3DVERTEXELEMENT9& element : elements_) {
        streamMask_ |= 1u << element.Stream;
    }
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
    if (count == nullptr) {
        return refuse("GetDeclaration", Refusal::NoCountPointer);
    }
    *count = static_cast<UINT>(elements_.size() + 1);
    if (elements != nullptr) {
        std::copy(elements_.begin(), elements_.end(), elements);
        elements[elements_.size()] = D3DVERTEXELEMENT9 D3DDECL_END();
    }
    return S_OK;
}

} // namespace d3d9gl
