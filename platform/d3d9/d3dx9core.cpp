#include "d3dx9core.h"

#include "refusal.h"

#include <atomic>
#include <memory>
#include <new>

namespace {

class Buffer final : public ID3DXBuffer {
  public:
    explicit Buffer(DWORD size)
        : bytes_(size ? new (std::nothrow) BYTE[size]() : nullptr), size_(size) {}
    bool valid() const { return size_ == 0 || bytes_ != nullptr; }

    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    LPVOID GetBufferPointer() override { return bytes_.get(); }
    DWORD GetBufferSize() override { return size_; }

  private:
    ~Buffer() = default;

    std::unique_ptr<BYTE[]> bytes_;
    DWORD size_;
    std::atomic<ULONG> references_{1};
};

} // namespace

HRESULT D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer) {
    if (!ppBuffer) return d3d9gl::refuse("D3DXCreateBuffer", d3d9gl::Refusal::NoBufferPointer);
    *ppBuffer = nullptr;
    auto* buffer = new (std::nothrow) Buffer(NumBytes);
    if (!buffer) return E_OUTOFMEMORY;
    if (!buffer->valid()) {
        buffer->Release();
        return E_OUTOFMEMORY;
    }
    *ppBuffer = buffer;
    return S_OK;
}
