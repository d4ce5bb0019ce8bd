#include "app/camera.h"
#include "app/main_loop.h"

#include <gtest/gtest.h>

// Found by the assertions through argument-dependent lookup, so beside EngineVector.
bool operator==(const EngineVector& a, const EngineVector& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

void PrintTo(const EngineVector& v, std::ostream* out) {
    *out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

namespace {

constexpr EngineNumber held = 1024;

TEST(CameraTurn, SumsBothInputsWithTheXAxisMirrored) {
    EXPECT_EQ(turnAcceleration({3, 4, 99}, {5, -6, 99}), (EngineVector{-40, -10, 0}));
    EXPECT_EQ(turnAcceleration({1024, 0, 0}, {-1024, 0, 0}), (EngineVector{0, 0, 0}));
    EXPECT_EQ(turnAcceleration({0, -2048, 0}, {0, 0, 0}), (EngineVector{0, -10240, 0}));
}

TEST(CameraMovement, OpposedKeysCancel) {
    EXPECT_EQ(movementAcceleration({.forward = held, .back = held}, 0), (EngineVector{0, 0, 0}));
    EXPECT_EQ(movementAcceleration({.left = held, .right = held}, 0), (EngineVector{0, 0, 0}));
    EXPECT_EQ(movementAcceleration({.up = held, .down = held}, 1024), (EngineVector{0, 0, 0}));
    // The second forward key outweighs S when W is held too.
    EXPECT_EQ(movementAcceleration({.forward = held, .secondForward = held, .back = held}, 0),
              (EngineVector{4096, 0, 0}));
}

TEST(CameraMovement, EachHeldKeyAccelerates4AlongItsAxis) {
    EXPECT_EQ(movementAcceleration({.forward = held}, 0), (EngineVector{4096, 0, 0}));
    EXPECT_EQ(movementAcceleration({.back = held}, 0), (EngineVector{-4096, 0, 0}));
    EXPECT_EQ(movementAcceleration({.left = held}, 0), (EngineVector{0, 4096, 0}));
    EXPECT_EQ(movementAcceleration({.right = held}, 0), (EngineVector{0, -4096, 0}));
    EXPECT_EQ(movementAcceleration({.up = held}, 0), (EngineVector{0, 0, 4096}));
    EXPECT_EQ(movementAcceleration({.down = held}, 0), (EngineVector{0, 0, -4096}));
    EXPECT_EQ(movementAcceleration({.forward = held, .secondForward = held}, 0),
              (EngineVector{8192, 0, 0}));
}

TEST(CameraMovement, SpeedUpScalesForwardAndSidewaysButNotVertical) {
    const MovementKeys forwardLeftUp{.forward = held, .left = held, .up = held};
    EXPECT_EQ(movementAcceleration(forwardLeftUp, 1024), (EngineVector{4096 * 11, 4096 * 4, 4096}));
    EXPECT_EQ(movementAcceleration({.back = held, .right = held, .down = held}, 1024),
              (EngineVector{-4096 * 11, -4096 * 4, -4096}));
    EXPECT_EQ(movementAcceleration({.forward = held, .secondForward = held}, 1024),
              (EngineVector{8192 * 11, 0, 0}));
    // An absurd speed-up saturates instead of overflowing.
    EXPECT_EQ(movementAcceleration({.back = held, .left = held}, 2147483647),
              (EngineVector{-2147483647 - 1, 2147483647, 0}));
    // Half speed-up: 1 + 5 forward, 1 + 1.5 sideways.
    EXPECT_EQ(movementAcceleration(forwardLeftUp, 512), (EngineVector{4096 * 6, 10240, 4096}));
}

TEST(AnglePair, PhaseGrowsByATenthOfTheFrameDurationWithinOneTurn) {
    EXPECT_EQ(nextCyclePhase(0, 1024), 102);
    EXPECT_EQ(nextCyclePhase(102, 1024), 204);
    EXPECT_EQ(nextCyclePhase(500, 9), 500); // 0.9 truncates away
    EXPECT_EQ(nextCyclePhase(360 * 1024 - 40, 1024), 62);
    EXPECT_EQ(anglePairSwing(-1024), 0);
    EXPECT_EQ(anglePairSwing(0), 40 * 1024);
    EXPECT_EQ(anglePairSwing(1024), 80 * 1024);
}

} // namespace
