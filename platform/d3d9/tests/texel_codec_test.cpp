#include "platform/d3d9/texel_codec.h"
#include "platform/d3d9/volume_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using d3dx::floatToHalf;
using d3dx::halfToFloat;

TEST(HalfFloat, KnownValues) {
    EXPECT_EQ(floatToHalf(0.0f), 0x0000);
    EXPECT_EQ(floatToHalf(-0.0f), 0x8000);
    EXPECT_EQ(floatToHalf(1.0f), 0x3C00);
    EXPECT_EQ(floatToHalf(-2.0f), 0xC000);
    EXPECT_EQ(floatToHalf(0.5f), 0x3800);
    EXPECT_EQ(floatToHalf(32767.0f / 32768.0f), 0x3C00);   // rounds up to 1
    EXPECT_EQ(floatToHalf(1.0f + 1.0f / 2048.0f), 0x3C00); // ties to even: down
    EXPECT_EQ(floatToHalf(1.0f + 3.0f / 2048.0f), 0x3C02); // ties to even: up
    EXPECT_EQ(floatToHalf(0.1f), 0x2E66);
    EXPECT_EQ(floatToHalf(65504.0f), 0x7BFF); // largest finite half
    EXPECT_EQ(floatToHalf(65519.0f), 0x7BFF); // just below the halfway point
    EXPECT_EQ(floatToHalf(65520.0f), 0x7C00); // halfway rounds to even: infinity
    EXPECT_EQ(floatToHalf(1.0e9f), 0x7C00);
    EXPECT_EQ(floatToHalf(-std::numeric_limits<float>::infinity()), 0xFC00);
    EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -14)), 0x0400); // smallest normal
    EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -24)), 0x0001); // smallest subnormal
    EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -25)), 0x0000); // halfway to it: even is zero
    EXPECT_EQ(floatToHalf(std::ldexp(1.5f, -25)), 0x0001);
    EXPECT_EQ(floatToHalf(std::ldexp(3.0f, -25)), 0x0002); // 1.5 subnormal steps: to even
    const std::uint16_t nan = floatToHalf(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan & 0x7C00, 0x7C00);
    EXPECT_NE(nan & 0x03FF, 0);
}

TEST(HalfFloat, EveryHalfSurvivesARoundTrip) {
    for (std::uint32_t h = 0; h <= 0xFFFF; ++h) {
        const auto half = static_cast<std::uint16_t>(h);
        const float value = halfToFloat(half);
        if (std::isnan(value)) {
            EXPECT_TRUE(std::isnan(halfToFloat(floatToHalf(value)))) << h;
            continue;
        }
        ASSERT_EQ(floatToHalf(value), half) << "half 0x" << std::hex << h;
    }
}

TEST(HalfFloat, RoundsToTheNearestHalf) {
    // Between neighbouring halves every float goes to the nearer one.
    for (std::uint16_t h = 0x3C00; h < 0x3C40; ++h) {
        const float low = halfToFloat(h), high = halfToFloat(static_cast<std::uint16_t>(h + 1));
        EXPECT_EQ(floatToHalf(low + (high - low) * 0.25f), h);
        EXPECT_EQ(floatToHalf(low + (high - low) * 0.75f), h + 1);
    }
}

TEST(TexelCodec, A8R8G8B8ClampsNaNToZeroAndRounds) {
    const float value[4] = {std::numeric_limits<float>::quiet_NaN(), 0.5f / 255.0f, 0.49f / 255.0f,
                            254.5f / 255.0f};
    std::uint8_t bytes[4];
    d3dx::encodeTexel(D3DFMT_A8R8G8B8, value, bytes);
    EXPECT_EQ(bytes[2], 0); // red: NaN
    EXPECT_EQ(bytes[1], 1); // green rounds up at one half
    EXPECT_EQ(bytes[0], 0); // blue rounds down below it
    EXPECT_EQ(bytes[3], 255);
}

TEST(BoxFilter, UnevenSizesWeighTexelsByTheirCoveredPart) {
    // Three texels onto two: the middle texel is split between both outputs.
    const d3dx::VolumeImage row{3, 1, 1, {3, 0, 0, 0, 6, 0, 0, 0, 12, 0, 0, 0}};
    const d3dx::VolumeImage two = d3dx::boxFilterVolume(row, 2, 1, 1);
    EXPECT_FLOAT_EQ(two.texel(0, 0, 0)[0], (3.0f * 1.0f + 6.0f * 0.5f) / 1.5f);
    EXPECT_FLOAT_EQ(two.texel(1, 0, 0)[0], (6.0f * 0.5f + 12.0f * 1.0f) / 1.5f);
    // Enlarging repeats each texel over the outputs inside it.
    const d3dx::VolumeImage six = d3dx::boxFilterVolume(row, 6, 1, 1);
    const float expected[6] = {3, 3, 6, 6, 12, 12};
    for (std::uint32_t x = 0; x < 6; ++x)
        EXPECT_FLOAT_EQ(six.texel(x, 0, 0)[0], expected[x]);
}

} // namespace
