// RayDirections must be unit vectors spread over the whole sphere, in an order with no pattern,
// behind four fixed leading rows.
#include "tables/marching_cubes_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

namespace {

double dot(const float* a, const float* b) {
    return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2];
}

TEST(RayDirections, EveryRowIsAUnitVector) {
    for (int i = 0; i < rayDirectionCount; ++i) {
        EXPECT_NEAR(std::sqrt(dot(RayDirections[i], RayDirections[i])), 1.0, 0.002) << "row " << i;
    }
}

TEST(RayDirections, LeadingRowsAreTheFixedOnes) {
    const float leading[4][3] = {{0.053114f, -0.983990f, 0.170124f},
                                 {0.114402f, -0.907154f, 0.404948f},
                                 {-0.671436f, -0.637694f, 0.377518f},
                                 {0.577363f, -0.683920f, 0.445988f}};
    for (int i = 0; i < 4; ++i) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_FLOAT_EQ(RayDirections[i][c], leading[i][c]) << "row " << i;
        }
    }
}

// Even coverage: 128 directions give 16 per octant on average, and their mean is near zero.
TEST(RayDirections, RowsCoverTheWholeSphereEvenly) {
    std::array<int, 8> perOctant{};
    std::array<double, 3> sum{};
    for (const auto& d : RayDirections) {
        ++perOctant[(d[0] > 0) | (d[1] > 0) << 1 | (d[2] > 0) << 2];
        for (int c = 0; c < 3; ++c) {
            sum[c] += d[c];
        }
    }
    for (int octant = 0; octant < 8; ++octant) {
        EXPECT_GE(perOctant[octant], 8) << "octant " << octant;
    }
    const double meanLength =
        std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / rayDirectionCount;
    EXPECT_LT(meanLength, 0.05);
}

TEST(RayDirections, NoTwoRowsAreWithinEightDegrees) {
    const double limit = std::cos(8.0 * std::numbers::pi / 180.0);
    for (int i = 0; i < rayDirectionCount; ++i) {
        for (int j = i + 1; j < rayDirectionCount; ++j) {
            EXPECT_LT(dot(RayDirections[i], RayDirections[j]), limit)
                << "rows " << i << " and " << j;
        }
    }
}

// A lattice written out in generation order would step steadily in one component; shuffled rows
// show no correlation between a row and the next (|r| about 0.09 for random order).
TEST(RayDirections, NeighbouringRowsAreUncorrelated) {
    for (int c = 0; c < 3; ++c) {
        double mean = 0;
        for (const auto& d : RayDirections) {
            mean += d[c];
        }
        mean /= rayDirectionCount;
        double lagged = 0;
        double variance = 0;
        for (int i = 0; i < rayDirectionCount; ++i) {
            const double deviation = RayDirections[i][c] - mean;
            variance += deviation * deviation;
            if (i + 1 < rayDirectionCount) {
                lagged += deviation * (RayDirections[i + 1][c] - mean);
            }
        }
        EXPECT_LT(std::fabs(lagged / variance), 0.3) << "component " << c;
    }
}

} // namespace
