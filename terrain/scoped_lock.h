// A lock of a whole Direct3D buffer, surface or mesh buffer, undone when the object goes out of
// scope, so that several locks taken in order are undone in reverse order on every way out. The
// block pass and the CPU mesher lock staging buffers, read-back surfaces and meshes this way.
// Converts to false when the lock failed or was not attempted (`attempt` false: an earlier lock
// of the same step failed).
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3dx9.h"

namespace lock_kinds {

inline HRESULT lock(IDirect3DVertexBuffer9* buffer, DWORD flags, D3DLOCKED_RECT& out) {
    out.Pitch = 0;
    return buffer->Lock(0, 0, &out.pBits, flags);
}
inline void unlock(IDirect3DVertexBuffer9* buffer) {
    buffer->Unlock();
}
inline HRESULT lock(IDirect3DIndexBuffer9* buffer, DWORD flags, D3DLOCKED_RECT& out) {
    out.Pitch = 0;
    return buffer->Lock(0, 0, &out.pBits, flags);
}
inline void unlock(IDirect3DIndexBuffer9* buffer) {
    buffer->Unlock();
}
inline HRESULT lock(IDirect3DSurface9* surface, DWORD flags, D3DLOCKED_RECT& out) {
    return surface->LockRect(&out, nullptr, flags);
}
inline void unlock(IDirect3DSurface9* surface) {
    surface->UnlockRect();
}

// A mesh's two buffers, told apart by type.
struct MeshVertices {
    ID3DXMesh* mesh;
};
struct MeshIndices {
    ID3DXMesh* mesh;
};
inline HRESULT lock(MeshVertices target, DWORD flags, D3DLOCKED_RECT& out) {
    out.Pitch = 0;
    return target.mesh->LockVertexBuffer(flags, &out.pBits);
}
inline void unlock(MeshVertices target) {
    target.mesh->UnlockVertexBuffer();
}
inline HRESULT lock(MeshIndices target, DWORD flags, D3DLOCKED_RECT& out) {
    out.Pitch = 0;
    return target.mesh->LockIndexBuffer(flags, &out.pBits);
}
inline void unlock(MeshIndices target) {
    target.mesh->UnlockIndexBuffer();
}

} // namespace lock_kinds

template <typename Target> class ScopedLock {
  public:
    ScopedLock(Target target, DWORD flags, bool attempt = true) : target_(target) {
        if (!attempt || FAILED(lock_kinds::lock(target, flags, locked_)) ||
            locked_.pBits == nullptr)
            locked_ = {};
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ~ScopedLock() {
        if (locked_.pBits != nullptr) lock_kinds::unlock(target_);
    }

    explicit operator bool() const { return locked_.pBits != nullptr; }
    template <typename T> T* as() const { return static_cast<T*>(locked_.pBits); }
    // Bytes from one row to the next (surfaces only; 0 for buffers).
    INT pitch() const { return locked_.Pitch; }

  private:
    Target target_{};
    D3DLOCKED_RECT locked_{};
};

using LockedVertexBuffer = ScopedLock<IDirect3DVertexBuffer9*>;
using LockedIndexBuffer = ScopedLock<IDirect3DIndexBuffer9*>;
using LockedSurface = ScopedLock<IDirect3DSurface9*>;
using LockedMeshVertices = ScopedLock<lock_kinds::MeshVertices>;
using LockedMeshIndices = ScopedLock<lock_kinds::MeshIndices>;
