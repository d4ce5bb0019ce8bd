#include "app/startup.h"

#include <gtest/gtest.h>

namespace {

TEST(ShaderCapability, AcceptsShaderModel3AndTheExactLegacyValue) {
    EXPECT_TRUE(shaderCapabilityAccepted(3030 * 1024));
    EXPECT_FALSE(shaderCapabilityAccepted(3030 * 1024 - 1));
    EXPECT_TRUE(shaderCapabilityAccepted(30 * 1024));
    EXPECT_FALSE(shaderCapabilityAccepted(30 * 1024 - 1));
    EXPECT_FALSE(shaderCapabilityAccepted(30 * 1024 + 1));
    EXPECT_FALSE(shaderCapabilityAccepted(31 * 1024));
    EXPECT_FALSE(shaderCapabilityAccepted(2000 * 1024));
    EXPECT_TRUE(shaderCapabilityAccepted(4000 * 1024));
    EXPECT_FALSE(shaderCapabilityAccepted(0));
    EXPECT_FALSE(shaderCapabilityAccepted(-3030 * 1024));
}

} // namespace
