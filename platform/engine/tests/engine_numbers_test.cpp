// EngineNumber conversions and the engine's vector and number helpers.
#include "engine/engine.h"
#include "platform/engine/engine_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr EngineNumber one = 1024;
constexpr EngineNumber largest = std::numeric_limits<EngineNumber>::max();
constexpr EngineNumber smallest = std::numeric_limits<EngineNumber>::min();

double length(const EngineVector& v) {
    return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
}

void expectNear(const EngineVector& actual, const EngineVector& expected, int tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(EngineNumber, FromRealMultipliesBy1024AndTruncatesTowardZero) {
    EXPECT_EQ(toEngineNumber(100.0), 102400);
    EXPECT_EQ(toEngineNumber(-1.5), -1536);
    EXPECT_EQ(toEngineNumber(1.9999), 2047);   // 2047.897..
    EXPECT_EQ(toEngineNumber(-1.9999), -2047); // toward zero, not down
    EXPECT_EQ(toEngineNumber(0.0009), 0);
    EXPECT_EQ(toEngineNumber(-0.0009), 0);
    EXPECT_EQ(fromEngineNumber(819), 0.7998046875);
    EXPECT_EQ(fromEngineNumber(-30720), -30.0);
}

TEST(EngineNumber, ValuesBeyondTheRangeSaturate) {
    EXPECT_EQ(toEngineNumber(2097151.999), 2147483646); // still fits
    EXPECT_EQ(toEngineNumber(3e6), largest);
    EXPECT_EQ(toEngineNumber(-3e6), smallest);
    EXPECT_EQ(toEngineNumber(std::numeric_limits<double>::infinity()), largest);
    EXPECT_EQ(toEngineNumber(std::nan("")), 0);
    EXPECT_EQ(toEngineNumber(2097152), largest);
}

TEST(EngineVectors, TemporaryVectorsConvertTheirFloatsAndStayDistinct) {
    EngineVector* a = _vec(1.5f, -2.25f, 100.0f);
    EngineVector* b = _vec(0.3f, 5e9f, -5e9f);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->x, 1536);
    EXPECT_EQ(a->y, -2304);
    EXPECT_EQ(a->z, 102400);
    EXPECT_EQ(b->x, 307); // 0.3f * 1024 = 307.2
    EXPECT_EQ(b->y, largest);
    EXPECT_EQ(b->z, smallest);
}

TEST(EngineVectors, AddSaturates) {
    EngineVector a{one, -one, largest - 5};
    const EngineVector b{2 * one, 3 * one, 10};
    vec_add(&a, &b);
    EXPECT_EQ(a.x, 3 * one);
    EXPECT_EQ(a.y, 2 * one);
    EXPECT_EQ(a.z, largest);
}

TEST(EngineNumbers, SineTakesDegrees) {
    EXPECT_EQ(sinv(0), 0);
    EXPECT_EQ(sinv(30 * one), 512);
    EXPECT_EQ(sinv(90 * one), one);
    EXPECT_EQ(sinv(180 * one), 0);
    EXPECT_EQ(sinv(270 * one), -one);
    EXPECT_EQ(sinv(-90 * one), -one);
    EXPECT_EQ(sinv(390 * one), 512);
    for (EngineNumber angle = -400 * one; angle <= 400 * one; angle += 777) {
        const double expected = std::sin(angle / 1024.0 * std::numbers::pi / 180.0) * 1024.0;
        EXPECT_NEAR(sinv(angle), expected, 0.5) << angle;
    }
}

TEST(EngineNumbers, MaxTakesTheLarger) {
    EXPECT_EQ(maxv(-5, 3), 3);
    EXPECT_EQ(maxv(7, -7), 7);
    EXPECT_EQ(maxv(smallest, largest), largest);
    EXPECT_EQ(maxv(-one, -2 * one), -one);
}

class Accelerate : public testing::Test {
  protected:
    void SetUp() override { engine::resetVariables(); }
    void frameOf(EngineNumber ticks) { engine::variables().frameDuration = ticks; }
};

TEST_F(Accelerate, SpeedGainsAccelerationAndLosesFrictionPerTick) {
    frameOf(one); // one tick
    EngineVector speed{};
    EngineVector distance{};
    const EngineVector acceleration{16 * one, 0, -4 * one};
    vec_accelerate(&distance, &speed, &acceleration, 512);
    EXPECT_EQ(speed.x, 16 * one);
    EXPECT_EQ(speed.z, -4 * one);
    EXPECT_EQ(distance.x, 16 * one);
    EXPECT_EQ(distance.z, -4 * one);

    // 16 + 16 - 0.5 * 16 = 24: the speed persists between calls.
    vec_accelerate(&distance, &speed, &acceleration, 512);
    EXPECT_EQ(speed.x, 24 * one);
    EXPECT_EQ(distance.x, 24 * one);
}

TEST_F(Accelerate, SpeedTendsToAccelerationOverFrictionThenDecaysToRest) {
    frameOf(one / 4);
    EngineVector speed{};
    EngineVector distance{};
    const EngineVector acceleration{16 * one, -16 * one, 0};
    for (int i = 0; i < 400; ++i)
        vec_accelerate(&distance, &speed, &acceleration, 819);
    const double terminal = 16 / 0.7998046875 * one;
    EXPECT_NEAR(speed.x, terminal, 8);
    EXPECT_NEAR(speed.y, -terminal, 8);
    EXPECT_NEAR(distance.x, speed.x / 4.0, 1); // this frame's displacement: speed x step

    const EngineVector none{};
    for (int i = 0; i < 400; ++i)
        vec_accelerate(&distance, &speed, &none, 819);
    EXPECT_EQ(speed.x, 0);
    EXPECT_EQ(speed.y, 0);
    EXPECT_EQ(distance.x, 0);
}

TEST_F(Accelerate, LongFramesMoveByAtMostTheLongestTimeStep) {
    EngineVector clampedSpeed{}, clampedDistance{};
    EngineVector shortSpeed{}, shortDistance{};
    const EngineVector acceleration{one, 0, 0};
    engine::variables().maxTimeStep = 2 * one;
    frameOf(80 * one); // a five-second frame
    vec_accelerate(&clampedDistance, &clampedSpeed, &acceleration, 512);
    frameOf(2 * one);
    vec_accelerate(&shortDistance, &shortSpeed, &acceleration, 512);
    EXPECT_EQ(clampedSpeed.x, shortSpeed.x);
    EXPECT_EQ(clampedDistance.x, shortDistance.x);
    EXPECT_EQ(clampedDistance.x, 4 * one); // speed 2, moved for 2 ticks
}

TEST_F(Accelerate, NoFrameNoMovement) {
    frameOf(0);
    EngineVector speed{3 * one, 0, 0};
    EngineVector distance{5, 5, 5};
    const EngineVector acceleration{one, one, one};
    vec_accelerate(&distance, &speed, &acceleration, 512);
    EXPECT_EQ(speed.x, 3 * one);
    EXPECT_EQ(distance.x, 0);
    EXPECT_EQ(distance.y, 0);
}

// Camera space: x forward, y left, z up; angles pan, tilt, roll in degrees.
TEST(EngineRotate, PanTurnsForwardToTheLeft) {
    EngineVector forward{100 * one, 0, 0};
    const EngineVector pan90{90 * one, 0, 0};
    vec_rotate(&forward, &pan90);
    expectNear(forward, {0, 100 * one, 0}, 1);

    EngineVector left{0, 100 * one, 0};
    vec_rotate(&left, &pan90);
    expectNear(left, {-100 * one, 0, 0}, 1); // left becomes back
}

TEST(EngineRotate, TiltRaisesForwardAndRollLiftsTheLeftSide) {
    EngineVector forward{100 * one, 0, 0};
    const EngineVector tilt90{0, 90 * one, 0};
    vec_rotate(&forward, &tilt90);
    expectNear(forward, {0, 0, 100 * one}, 1);

    EngineVector left{0, 100 * one, 0};
    const EngineVector roll90{0, 0, 90 * one};
    vec_rotate(&left, &roll90);
    expectNear(left, {0, 0, 100 * one}, 1);

    EngineVector up{0, 0, 100 * one};
    const EngineVector pan90{90 * one, 0, 0};
    vec_rotate(&up, &pan90);
    expectNear(up, {0, 0, 100 * one}, 1); // pan keeps up
}

TEST(EngineRotate, AnglesApplyRollThenTiltThenPan) {
    const EngineVector angles{37 * one, -23 * one, 71 * one};
    for (const EngineVector original : {EngineVector{100 * one, 0, 0}, EngineVector{0, 50 * one, 0},
                                        EngineVector{3 * one, -40 * one, 90 * one}}) {
        EngineVector once = original;
        vec_rotate(&once, &angles);

        EngineVector stepwise = original;
        const EngineVector roll{0, 0, angles.z}, tilt{0, angles.y, 0}, pan{angles.x, 0, 0};
        vec_rotate(&stepwise, &roll);
        vec_rotate(&stepwise, &tilt);
        vec_rotate(&stepwise, &pan);

        expectNear(once, stepwise, 3);
        EXPECT_NEAR(length(once), length(original), 2);
    }
}

TEST(EngineRotate, ForwardWithPanAndTiltPointsAlongTheView) {
    EngineVector forward{1000 * one, 0, 0};
    const EngineVector angles{45 * one, 30 * one, 0};
    vec_rotate(&forward, &angles);
    const double horizontal = 1000 * std::cos(std::numbers::pi / 6) * std::sqrt(0.5);
    expectNear(forward, {EngineNumber(horizontal * one), EngineNumber(horizontal * one), 500 * one},
               2);
}

} // namespace
