// The cause a test expects of a refused call: EXPECT_EQ(refusalOf(call), Refusal::Cause).
#pragma once

#include "platform/d3d9/refusal.h"

#include <ostream>

namespace d3d9gl {

// The calling thread's last cause when `result` is D3DERR_INVALIDCALL, Refusal::None for a
// call that was not refused; either way the last cause is taken, so it never speaks for a
// later call.
inline Refusal refusalOf(HRESULT result) {
    const Refusal cause = takeLastRefusal();
    return result == D3DERR_INVALIDCALL ? cause : Refusal::None;
}

// GoogleTest prints a cause by its reason.
inline void PrintTo(Refusal cause, std::ostream* out) {
    *out << '"' << refusalReason(cause) << '"';
}

} // namespace d3d9gl
