// The device used from several threads: two workers run render-and-read-back passes one at a
// time under one lock while the main thread renders its own target under the same lock, with
// buffers created, filled and released outside it; work published by one context is seen by
// another, and use of another thread's open batch is reported; objects released on a thread
// without a context are deleted later; queries time a thread's own work and events are seen by
// every thread.
#include "gl_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace d3d9gl::test {
namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int kPassesPerWorker = 150;
#else
constexpr int kPassesPerWorker = 400;
#endif

// value + the texel's column, so that a pass that covered the wrong texels shows.
const char* const kValueShader = R"(
layout(location = 0) out vec4 color;
uniform float value;
void main() { color = vec4(value + floor(gl_FragCoord.x), 0.0, 0.0, 1.0); }
)";

constexpr UINT kSize = 32;

struct Fixture {
    Ref<IDirect3DDevice9> device;
    Ref<IDirect3DVertexDeclaration9> declaration;
    GLuint valueProgram = 0;
    GLuint copyProgram = 0;

    bool make() {
        device = makeHeadlessDevice(kSize, kSize);
        if (!device) {
            return false;
        }
        declaration = makeQuadDeclaration(device.get());
        std::string log;
        valueProgram = compileProgram(device.get(), kQuadVertexShader, kValueShader, &log);
        copyProgram = compileProgram(device.get(), kQuadVertexShader, kCopyFragmentShader, &log);
        EXPECT_TRUE(valueProgram != 0 && copyProgram != 0) << log;
        return valueProgram != 0 && copyProgram != 0;
    }
    ~Fixture() {
        if (device) {
            deleteProgram(device.get(), valueProgram);
            deleteProgram(device.get(), copyProgram);
        }
    }

    // A kSize x kSize R32F texture of one level.
    HRESULT createTexture(DWORD usage, D3DPOOL pool, IDirect3DTexture9** texture) {
        return device->CreateTexture(kSize, kSize, 1, usage, D3DFMT_R32F, pool, texture, nullptr);
    }

    Ref<IDirect3DSurface9> surfaceOf(IDirect3DTexture9* texture) {
        Ref<IDirect3DSurface9> surface;
        texture->GetSurfaceLevel(0, surface.out());
        return surface;
    }

    // Draws the value pass into `target` with `buffer` as the quad, the way a generation pass
    // does: save the render target, draw, restore.
    void drawValue(IDirect3DSurface9* target, IDirect3DVertexBuffer9* buffer, float value) {
        device->SetVertexDeclaration(declaration.get());
        bindThreadContext(device.get());
        glProgramUniform1f(valueProgram, glGetUniformLocation(valueProgram, "value"), value);
        drawQuad(device.get(), target, buffer, valueProgram);
    }

    // Texels of `copy` (R32F, kSize x kSize) that differ from value + column.
    int wrongTexels(IDirect3DSurface9* copy, float value) {
        D3DLOCKED_RECT locked;
        if (FAILED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            return -1;
        }
        int wrong = 0;
        for (UINT y = 0; y < kSize; ++y) {
            const auto* row = reinterpret_cast<const float*>(
                static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < kSize; ++x) {
                wrong += row[x] != value + static_cast<float>(x);
            }
        }
        copy->UnlockRect();
        return wrong;
    }

    Ref<IDirect3DVertexBuffer9> makeQuadBuffer() {
        return makeTargetQuadBuffer(device.get(), kSize, kSize);
    }
};

TEST(Threads, WorkersAndMainThreadEachReadBackTheirOwnPasses) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    // One target shared by both workers (like the density target), a read-back copy each.
    Ref<IDirect3DTexture9> shared;
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, shared.out()), S_OK);
    Ref<IDirect3DSurface9> sharedSurface = fixture.surfaceOf(shared.get());
    std::mutex generationLock;
    std::atomic<int> wrongPasses{0};
    std::atomic<int> running{2};

    const auto worker = [&](int slot) {
        Ref<IDirect3DTexture9> copy;
        EXPECT_EQ(fixture.createTexture(0, D3DPOOL_SYSTEMMEM, copy.out()), S_OK);
        Ref<IDirect3DSurface9> copySurface = fixture.surfaceOf(copy.get());
        for (int pass = 0; pass < kPassesPerWorker; ++pass) {
            // A mesh-like buffer made, filled and released outside the lock.
            Ref<IDirect3DVertexBuffer9> buffer = fixture.makeQuadBuffer();
            const float value = static_cast<float>(slot * 100000 + pass * 100);
            {
                std::lock_guard lock(generationLock);
                fixture.drawValue(sharedSurface.get(), buffer.get(), value);
                EXPECT_EQ(device->GetRenderTargetData(sharedSurface.get(), copySurface.get()),
                          S_OK);
                if (fixture.wrongTexels(copySurface.get(), value) != 0) {
                    ++wrongPasses;
                }
                device->SetStreamSource(0, nullptr, 0, 0);
            }
        }
        --running;
    };
    std::thread first(worker, 0);
    std::thread second(worker, 1);

    // The main thread renders into the back buffer under the same lock meanwhile.
    Ref<IDirect3DVertexBuffer9> mainQuad = fixture.makeQuadBuffer();
    Ref<IDirect3DSurface9> backBuffer;
    device->GetRenderTarget(0, backBuffer.out());
    int mainPasses = 0, mainWrong = 0;
    while (running.load() > 0 || mainPasses < 10) {
        std::lock_guard lock(generationLock);
        const std::uint8_t level = static_cast<std::uint8_t>(mainPasses * 7 % 200);
        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(255, level, 0, 0), 1, 0),
                  S_OK);
        std::vector<std::uint8_t> rgba;
        readBackBuffer(device, rgba);
        for (std::size_t i = 0; i < rgba.size(); i += 4) {
            if (rgba[i] != level) {
                ++mainWrong;
                break;
            }
        }
        ++mainPasses;
    }
    first.join();
    second.join();
    EXPECT_EQ(wrongPasses.load(), 0);
    EXPECT_EQ(mainWrong, 0) << "of " << mainPasses << " main-thread passes";
}

// A texture drawn on one thread and sampled on another: the sampling context waits for the
// fence the drawing context left. Likewise a managed texture written on the main thread.
TEST(Threads, WorkPublishedOnOneContextIsSeenOnAnother) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    Ref<IDirect3DTexture9> drawn, copied, readback;
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, drawn.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, copied.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(0, D3DPOOL_SYSTEMMEM, readback.out()), S_OK);
    Ref<IDirect3DVertexBuffer9> quad = fixture.makeQuadBuffer();
    Ref<IDirect3DSurface9> drawnSurface = fixture.surfaceOf(drawn.get());
    Ref<IDirect3DSurface9> copiedSurface = fixture.surfaceOf(copied.get());
    Ref<IDirect3DSurface9> readbackSurface = fixture.surfaceOf(readback.get());

    const auto copyOnAnotherThread = [&](IDirect3DBaseTexture9* source) {
        std::thread([&] {
            device->SetTexture(0, source);
            drawQuad(device, copiedSurface.get(), quad.get(), fixture.copyProgram);
            device->SetTexture(0, nullptr);
        }).join();
        EXPECT_EQ(device->GetRenderTargetData(copiedSurface.get(), readbackSurface.get()), S_OK);
    };

    for (int round = 0; round < 5; ++round) {
        const float value = 1000.0f * static_cast<float>(round + 1);
        std::thread([&] { fixture.drawValue(drawnSurface.get(), quad.get(), value); }).join();
        copyOnAnotherThread(drawn.get());
        EXPECT_EQ(fixture.wrongTexels(readbackSurface.get(), value), 0) << "round " << round;
    }

    Ref<IDirect3DTexture9> managed;
    ASSERT_EQ(fixture.createTexture(0, D3DPOOL_MANAGED, managed.out()), S_OK);
    for (int round = 0; round < 3; ++round) {
        const float value = -50.0f * static_cast<float>(round + 1);
        D3DLOCKED_RECT locked;
        ASSERT_EQ(managed->LockRect(0, &locked, nullptr, 0), S_OK);
        for (UINT y = 0; y < kSize; ++y) {
            auto* row = reinterpret_cast<float*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                 y * locked.Pitch);
            for (UINT x = 0; x < kSize; ++x) {
                row[x] = value + static_cast<float>(x);
            }
        }
        managed->UnlockRect(0);
        copyOnAnotherThread(managed.get());
        EXPECT_EQ(fixture.wrongTexels(readbackSurface.get(), value), 0) << "managed " << round;
    }
}

// A write on one thread after a draw on another that samples the written texture, with the
// drawing thread's batch still open: the draw still sees what the texture held when it was
// issued, as on Direct3D 9. Both kinds of write: an upload (Unlock of a managed texture) and a
// draw into a render target.
TEST(Threads, WriteAfterAnotherThreadsQueuedReadLeavesTheReadAlone) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    Ref<IDirect3DTexture9> managed, drawn, target, readback;
    ASSERT_EQ(fixture.createTexture(0, D3DPOOL_MANAGED, managed.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, drawn.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, target.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(0, D3DPOOL_SYSTEMMEM, readback.out()), S_OK);
    Ref<IDirect3DVertexBuffer9> quad = fixture.makeQuadBuffer();
    Ref<IDirect3DSurface9> drawnSurface = fixture.surfaceOf(drawn.get());
    Ref<IDirect3DSurface9> targetSurface = fixture.surfaceOf(target.get());
    Ref<IDirect3DSurface9> readbackSurface = fixture.surfaceOf(readback.get());
    Ref<IDirect3DSurface9> backBuffer;
    device->GetRenderTarget(0, backBuffer.out());

    const auto fillManaged = [&](float value) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(managed->LockRect(0, &locked, nullptr, 0), S_OK);
        for (UINT y = 0; y < kSize; ++y) {
            auto* row = reinterpret_cast<float*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                 y * locked.Pitch);
            for (UINT x = 0; x < kSize; ++x) {
                row[x] = value + static_cast<float>(x);
            }
        }
        ASSERT_EQ(managed->UnlockRect(0), S_OK);
    };
    // Copies `source` into the target on this thread and leaves the batch open (no target
    // change, no read-back), runs `write` on another thread, then reads the copy back.
    const auto copyThenWriteElsewhere = [&](IDirect3DBaseTexture9* source, auto write) {
        device->SetRenderTarget(0, targetSurface.get());
        device->SetVertexDeclaration(fixture.declaration.get());
        device->SetStreamSource(0, quad.get(), 0, sizeof(QuadVertex));
        device->SetTexture(0, source);
        setProgram(device, fixture.copyProgram);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
        std::thread(write).join();
        EXPECT_EQ(device->GetRenderTargetData(targetSurface.get(), readbackSurface.get()), S_OK);
        device->SetTexture(0, nullptr);
        device->SetRenderTarget(0, backBuffer.get());
    };

    int uploadsSeen = 0, drawsSeen = 0;
    for (int round = 0; round < 20; ++round) {
        const float earlier = 10.0f * static_cast<float>(round + 1);
        const float later = -earlier;
        fillManaged(earlier);
        copyThenWriteElsewhere(managed.get(), [&] { fillManaged(later); });
        uploadsSeen += fixture.wrongTexels(readbackSurface.get(), earlier) != 0;

        fixture.drawValue(drawnSurface.get(), quad.get(), earlier);
        copyThenWriteElsewhere(drawn.get(),
                               [&] { fixture.drawValue(drawnSurface.get(), quad.get(), later); });
        drawsSeen += fixture.wrongTexels(readbackSurface.get(), earlier) != 0;
    }
    EXPECT_EQ(uploadsSeen, 0) << "rounds where the draw saw a later upload";
    EXPECT_EQ(drawsSeen, 0) << "rounds where the draw saw a later draw";

    // The later data is what the next draw samples.
    copyThenWriteElsewhere(managed.get(), [] {});
    EXPECT_EQ(fixture.wrongTexels(readbackSurface.get(), -200.0f), 0);
    copyThenWriteElsewhere(drawn.get(), [] {});
    EXPECT_EQ(fixture.wrongTexels(readbackSurface.get(), -200.0f), 0);

    // The storage the queued reads kept goes once the reading batch has ended.
    const GLuint kept = textureName(managed.get());
    copyThenWriteElsewhere(managed.get(), [&] { fillManaged(5.0f); });
    bindThreadContext(device);
    EXPECT_NE(textureName(managed.get()), kept);
    EXPECT_FALSE(glIsTexture(kept));
}

// A worker made with CreateThread that draws and ends with its batch open: once its handle is
// signalled, the worker has given its context back and published its drawing, so the thread
// that waited reads it back at once.
struct EndingDraw {
    Fixture* fixture;
    IDirect3DSurface9* target;
    IDirect3DVertexBuffer9* quad;
    float value;
};

DWORD WINAPI drawAndEndWithTheBatchOpen(LPVOID parameter) {
    const auto& work = *static_cast<const EndingDraw*>(parameter);
    IDirect3DDevice9* device = work.fixture->device.get();
    device->SetRenderTarget(0, work.target);
    device->SetVertexDeclaration(work.fixture->declaration.get());
    device->SetStreamSource(0, work.quad, 0, sizeof(QuadVertex));
    bindThreadContext(device);
    const GLuint program = work.fixture->valueProgram;
    glProgramUniform1f(program, glGetUniformLocation(program, "value"), work.value);
    setProgram(device, program);
    return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2) == S_OK ? 0 : 1;
}

TEST(Threads, AWin32ThreadWhoseHandleIsSignalledHasPublishedItsBatch) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    Ref<IDirect3DTexture9> target, readback;
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, target.out()), S_OK);
    ASSERT_EQ(fixture.createTexture(0, D3DPOOL_SYSTEMMEM, readback.out()), S_OK);
    Ref<IDirect3DSurface9> targetSurface = fixture.surfaceOf(target.get());
    Ref<IDirect3DSurface9> readbackSurface = fixture.surfaceOf(readback.get());
    Ref<IDirect3DSurface9> backBuffer;
    device->GetRenderTarget(0, backBuffer.out());
    Ref<IDirect3DVertexBuffer9> quad = fixture.makeQuadBuffer();
    for (int round = 0; round < 20; ++round) {
        EndingDraw work{&fixture, targetSurface.get(), quad.get(),
                        7.0f * static_cast<float>(round)};
        const HANDLE worker =
            CreateThread(nullptr, 0, drawAndEndWithTheBatchOpen, &work, 0, nullptr);
        ASSERT_NE(worker, nullptr);
        ASSERT_EQ(WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
        CloseHandle(worker);
        // GORVANE_GL_DEBUG=abort: reading a target in another thread's open batch aborts.
        ASSERT_EQ(device->GetRenderTargetData(targetSurface.get(), readbackSurface.get()), S_OK);
        EXPECT_EQ(fixture.wrongTexels(readbackSurface.get(), work.value), 0) << "round " << round;
        device->SetRenderTarget(0, backBuffer.get());
    }
}

// A thread that draws over (or reads) what another thread drew while that thread's batch is
// still open would race with work queued in the other context: the device says so.
TEST(ThreadsDeathTest, UsingWhatAnotherThreadDrewInAnOpenBatchIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto drawOverAnOpenBatch = [] {
        Fixture fixture;
        if (!fixture.make()) {
            return;
        }
        IDirect3DDevice9* device = fixture.device.get();
        std::promise<void> cleared, finish;
        std::thread writer([&] {
            device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(1, 2, 3), 1, 0);
            cleared.set_value();
            finish.get_future().wait(); // keeps its batch open
        });
        cleared.get_future().wait();
        device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(4, 5, 6), 1, 0);
        finish.set_value();
        writer.join();
    };
    EXPECT_DEATH(drawOverAnOpenBatch(), "batch that drew into it is still open");
}

// A buffer released on a thread that never used GL is deleted by the next thread that binds a
// context of the device.
TEST(Threads, ReleaseWithoutContextDeletesLater) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    Ref<IDirect3DTexture9> target;
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, target.out()), S_OK);
    Ref<IDirect3DVertexBuffer9> quad = fixture.makeQuadBuffer();
    fixture.drawValue(fixture.surfaceOf(target.get()).get(), quad.get(), 1.0f);
    bindThreadContext(device);
    GLint vertexArray = 0, name = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    glGetVertexArrayIndexediv(static_cast<GLuint>(vertexArray), 0, GL_VERTEX_BINDING_BUFFER, &name);
    ASSERT_NE(name, 0);
    ASSERT_TRUE(glIsBuffer(static_cast<GLuint>(name)));
    device->SetStreamSource(0, nullptr, 0, 0);
    std::thread([&] { quad.reset(); }).join();
    EXPECT_TRUE(glIsBuffer(static_cast<GLuint>(name))) << "queued, not deleted yet";
    bindThreadContext(device);
    EXPECT_FALSE(glIsBuffer(static_cast<GLuint>(name)));
}

// Polls a query as a Direct3D program does; `data` holds `size` bytes.
HRESULT waitForQuery(IDirect3DQuery9* query, void* data, DWORD size) {
    HRESULT result;
    while ((result = query->GetData(data, size, D3DGETDATA_FLUSH)) == S_FALSE)
        std::this_thread::yield();
    return result;
}

// Timestamps bracket a thread's own draw and belong to its context; an event left by one
// thread is seen as passed from another once the GPU got there.
TEST(Threads, TimestampsBelongToTheirThreadAndEventsAreSeenByEveryThread) {
    Fixture fixture;
    ASSERT_TRUE(fixture.make());
    IDirect3DDevice9* device = fixture.device.get();
    Ref<IDirect3DTexture9> target;
    ASSERT_EQ(fixture.createTexture(D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, target.out()), S_OK);
    Ref<IDirect3DVertexBuffer9> quad = fixture.makeQuadBuffer();

    Ref<IDirect3DQuery9> frequency, disjoint, before, after, event;
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMPFREQ, frequency.out()), S_OK);
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMPDISJOINT, disjoint.out()), S_OK);
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMP, before.out()), S_OK);
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMP, after.out()), S_OK);
    ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_EVENT, event.out()), S_OK);
    EXPECT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMP, nullptr), S_OK) << "supported";
    UINT64 ticks[2] = {};
    EXPECT_EQ(before->GetData(&ticks[0], sizeof ticks[0], 0), D3DERR_INVALIDCALL) << "not issued";
    EXPECT_EQ(before->Issue(D3DISSUE_BEGIN), D3DERR_INVALIDCALL);

    ASSERT_EQ(disjoint->Issue(D3DISSUE_BEGIN), S_OK);
    ASSERT_EQ(before->Issue(D3DISSUE_END), S_OK);
    fixture.drawValue(fixture.surfaceOf(target.get()).get(), quad.get(), 2.0f);
    ASSERT_EQ(after->Issue(D3DISSUE_END), S_OK);
    ASSERT_EQ(event->Issue(D3DISSUE_END), S_OK);
    ASSERT_EQ(disjoint->Issue(D3DISSUE_END), S_OK);
    ASSERT_EQ(frequency->Issue(D3DISSUE_END), S_OK);

    // Another thread sees the event pass, cannot use this thread's timestamps, and times its
    // own work with its own.
    std::thread([&] {
        BOOL passed = FALSE;
        EXPECT_EQ(waitForQuery(event.get(), &passed, sizeof passed), S_OK);
        EXPECT_EQ(passed, TRUE);
        UINT64 foreign = 0;
        EXPECT_EQ(before->GetData(&foreign, sizeof foreign, 0), D3DERR_INVALIDCALL);
        EXPECT_EQ(after->Issue(D3DISSUE_END), D3DERR_INVALIDCALL);
        Ref<IDirect3DQuery9> own;
        ASSERT_EQ(device->CreateQuery(D3DQUERYTYPE_TIMESTAMP, own.out()), S_OK);
        ASSERT_EQ(own->Issue(D3DISSUE_END), S_OK);
        EXPECT_EQ(waitForQuery(own.get(), &foreign, sizeof foreign), S_OK);
    }).join();

    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(waitForQuery((i == 0 ? before : after).get(), &ticks[i], sizeof ticks[i]), S_OK);
    EXPECT_GT(ticks[0], 0u);
    EXPECT_GE(ticks[1], ticks[0]);
    UINT64 ticksPerSecond = 0;
    EXPECT_EQ(waitForQuery(frequency.get(), &ticksPerSecond, sizeof ticksPerSecond), S_OK);
    EXPECT_EQ(ticksPerSecond, 1000000000u);
    BOOL jumped = TRUE;
    EXPECT_EQ(waitForQuery(disjoint.get(), &jumped, sizeof jumped), S_OK);
    EXPECT_EQ(jumped, FALSE);
    EXPECT_EQ(event->GetData(&ticks[0], sizeof ticks[0], 0), D3DERR_INVALIDCALL) << "wrong size";
    // The draw between the timestamps took time on the GPU's clock, well under a second.
    EXPECT_LT(ticks[1] - ticks[0], ticksPerSecond);
}

} // namespace
} // namespace d3d9gl::test
