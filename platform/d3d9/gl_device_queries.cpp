// Queries over GL: timestamps are GL_TIMESTAMP query objects (glQueryCounter), events are fence
// syncs, and the frequency and disjoint queries answer what desktop GL guarantees (gl_device.h).
#include "gl_internal.h"
#include "refusal.h"

#include "platform/trace/trace.h"

#include <cstring>

namespace d3d9gl {

namespace {

// GL timestamps count nanoseconds.
constexpr UINT64 timestampTicksPerSecond = 1000000000;

bool timestampsAvailable() {
    GLint bits = 0;
    glGetQueryiv(GL_TIMESTAMP, GL_QUERY_COUNTER_BITS, &bits);
    return bits > 0;
}

} // namespace

HRESULT Device::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) {
    switch (type) {
    case D3DQUERYTYPE_EVENT:
    case D3DQUERYTYPE_TIMESTAMPDISJOINT:
        break;
    case D3DQUERYTYPE_TIMESTAMP:
    case D3DQUERYTYPE_TIMESTAMPFREQ:
        pool_->bind();
        if (!timestampsAvailable()) return D3DERR_NOTAVAILABLE;
        break;
    default:
        return D3DERR_NOTAVAILABLE;
    }
    if (query != nullptr) *query = new Query(this, type);
    return S_OK;
}

DWORD Query::GetDataSize() {
    return type_ == D3DQUERYTYPE_TIMESTAMP || type_ == D3DQUERYTYPE_TIMESTAMPFREQ ? sizeof(UINT64)
                                                                                  : sizeof(BOOL);
}

HRESULT Query::Issue(DWORD flags) {
    constexpr const char* call = "IDirect3DQuery9::Issue";
    if (flags != D3DISSUE_BEGIN && flags != D3DISSUE_END)
        return refuse(call, Refusal::UnsupportedIssueFlags);
    if (flags == D3DISSUE_BEGIN && type_ != D3DQUERYTYPE_TIMESTAMPDISJOINT)
        return refuse(call, Refusal::BeginOnNonDisjointQuery);
    std::lock_guard lock(mutex_);
    ContextPool& pool = device()->contextPool();
    switch (type_) {
    case D3DQUERYTYPE_EVENT:
        pool.bind();
        if (fence_ != nullptr) glDeleteSync(fence_);
        fence_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        // Submitted now, so that a thread polling from another context sees it pass.
        glFlush();
        break;
    case D3DQUERYTYPE_TIMESTAMP:
        pool.bind();
        if (timerQuery_ == 0) {
            glGenQueries(1, &timerQuery_);
            ownerSlot_ = pool.currentSlot();
        } else if (ownerSlot_ != pool.currentSlot()) {
            return refuse(call, Refusal::QueryOfAnotherThread);
        }
        glQueryCounter(timerQuery_, GL_TIMESTAMP);
        break;
    case D3DQUERYTYPE_TIMESTAMPFREQ:
        // A traced run learns here where the GPU's clock stands on the trace's.
        if (trace::recording() && !trace::gpuClockKnown()) {
            pool.bind();
            GLint64 ticks = 0;
            glGetInteger64v(GL_TIMESTAMP, &ticks);
            trace::noteGpuClock(static_cast<std::uint64_t>(ticks), timestampTicksPerSecond,
                                trace::now());
        }
        break;
    default: // disjoint: nothing to start or end in GL
        break;
    }
    if (flags == D3DISSUE_END) issued_ = true;
    return S_OK;
}

HRESULT Query::GetData(void* data, DWORD size, DWORD flags) {
    constexpr const char* call = "IDirect3DQuery9::GetData";
    if (size != 0 && (data == nullptr || size != GetDataSize()))
        return refuse(call, Refusal::QueryDataSize);
    std::lock_guard lock(mutex_);
    if (!issued_) return refuse(call, Refusal::QueryNotIssued);
    ContextPool& pool = device()->contextPool();
    UINT64 wide = 0;
    BOOL flag = FALSE;
    switch (type_) {
    case D3DQUERYTYPE_EVENT: {
        pool.bind();
        const GLenum status =
            glClientWaitSync(fence_, (flags & D3DGETDATA_FLUSH) ? GL_SYNC_FLUSH_COMMANDS_BIT : 0, 0);
        if (status == GL_TIMEOUT_EXPIRED) return S_FALSE;
        flag = TRUE;
        break;
    }
    case D3DQUERYTYPE_TIMESTAMP: {
        pool.bind();
        if (ownerSlot_ != pool.currentSlot())
            return refuse(call, Refusal::QueryOfAnotherThread);
        GLint available = GL_FALSE;
        glGetQueryObjectiv(timerQuery_, GL_QUERY_RESULT_AVAILABLE, &available);
        if (available == GL_FALSE) {
            if (flags & D3DGETDATA_FLUSH) glFlush();
            return S_FALSE;
        }
        GLuint64 ticks = 0;
        glGetQueryObjectui64v(timerQuery_, GL_QUERY_RESULT, &ticks);
        wide = ticks;
        break;
    }
    case D3DQUERYTYPE_TIMESTAMPFREQ:
        wide = timestampTicksPerSecond;
        break;
    default: // disjoint: GL's timestamp clock never jumps under the application
        flag = FALSE;
        break;
    }
    if (size != 0) {
        if (size == sizeof wide)
            std::memcpy(data, &wide, sizeof wide);
        else
            std::memcpy(data, &flag, sizeof flag);
    }
    return S_OK;
}

Query::~Query() {
    // GL objects of a query go with the context that can delete them: the fence with any
    // context of the group, the timer query with its own.
    ContextPool& pool = device()->contextPool();
    if (fence_ != nullptr) {
        pool.bind();
        glDeleteSync(fence_);
    }
    if (timerQuery_ != 0) pool.deleteQuery(ownerSlot_, timerQuery_);
}

} // namespace d3d9gl
