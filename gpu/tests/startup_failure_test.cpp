// Start-up when one of the program's objects cannot be created: the object is named once, the
// blocks whose pass needs it stay empty, and everything else runs on.
#include "app/tests/headless_program.h"
#include "gpu/tests/generation_fixture.h"
#include "platform/d3d9/failure_injection.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace gorvane::test;

TEST(StartUpFailure, StagingBufferThatCannotBeCreatedEmptiesOnlyItsWorkersCpuBlocks) {
    // The quads take the first two vertex buffers, worker 0's staging vertices the third.
    d3d9gl::failNthCall("CreateVertexBuffer", 3);
    testing::internal::CaptureStderr();
    const bool started = startProgramHeadless();
    const std::string errors = testing::internal::GetCapturedStderr();
    d3d9gl::clearCallFailures();
    ASSERT_TRUE(started);
    EXPECT_NE(errors.find("cannot create the staging vertex buffer of worker 0 (HRESULT "
                          "0x8007000E)"),
              std::string::npos)
        << errors;
    ASSERT_EQ(WorkerStagingBuffers[0].vertices, nullptr);

    const BlockJob ground{0, 4, 3, 3};
    BlockJob groundOnSlot1 = ground;
    groundOnSlot1.slot = 1;
    const std::int32_t t = workBlock(CpuMeshGpuDensity, groundOnSlot1).second;
    EXPECT_GT(t, 0);
    EXPECT_EQ(workBlock(CpuMeshGpuDensity, ground), std::make_pair(0, 0));
    EXPECT_EQ(workBlock(GpuVerticesCpuWeld, ground).second, t) << "no staging buffer needed";
    EXPECT_EQ(engine_frame(), 1);
    headless_program::removeDataCopy();
}

} // namespace
