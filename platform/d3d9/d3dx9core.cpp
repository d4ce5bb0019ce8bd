#include "d3dx9core.h"

#include "d3dx_ref_counted.h"
#include "refusal.h"

#include <memory>
#include <new>

namespace {

class Buffer final : public d3dx::RefCounted<ID3DXBuffer, Buffer> {
  public:
    explicit Buffer(DWORD size)
        : bytes_(size ? new (std::nothrow) BYTE[size]() : nullptr), size_(size) {}
    bool valid() const { return size_ == 0 || bytes_ != nullptr; }

    LPVOID GetBufferPointer() override { return bytes_.get(); }
    DWORD GetBufferSize() override { return size_; }

  private:
    friend d3dx::RefCounted<ID3DXBuffer, Buffer>;
    ~Buffer() = default;

    std::unique_ptr<BYTE[]> bytes_;
    DWORD size_;
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
