// The reference count of the layer's D3DX objects: an object starts with one reference, and
// the Release that drops the last one deletes it.
#pragma once

#include "d3d9.h"

#include <atomic>

namespace d3dx {

// `Object` derives from RefCounted<Interface, Object>; its destructor may stay private if it
// befriends this class.
template <class Interface, class Object> class RefCounted : public Interface {
  public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Object*>(this);
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

} // namespace d3dx
