// Makes the rows of RayDirections that follow its four fixed leading rows.
//
//   make_ray_directions          prints the rows as C++ initialiser lines, six decimals, to be
//                                pasted into tables/marching_cubes_tables.cpp
//   make_ray_directions --check  exits 1 unless the compiled table holds exactly these rows
//
// The set is a spherical Fibonacci lattice of rayDirectionCount points, which covers the whole
// sphere evenly; each fixed row takes the place of the lattice point nearest to it, and the rest
// are shuffled with a seeded generator so that neighbouring rows have no pattern.
#include "tables/marching_cubes_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace {

using Direction = std::array<double, 3>;

constexpr int fixedLeadingRows = 4;
constexpr std::uint32_t shuffleSeed = 0x9e3779b9u;

double dot(const Direction& a, const Direction& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

std::vector<Direction> fibonacciSphere(int count) {
    const double goldenAngle = std::numbers::pi * (3.0 - std::sqrt(5.0));
    std::vector<Direction> points;
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - (2.0 * i + 1.0) / count;
        const double radius = std::sqrt(1.0 - z * z);
        const double angle = goldenAngle * i;
        points.push_back({radius * std::cos(angle), radius * std::sin(angle), z});
    }
    return points;
}

// The table is written with six decimals; a rounded zero is written without a minus sign.
double roundedToSixDecimals(double value) {
    const double rounded = std::round(value * 1e6) / 1e6;
    return rounded == 0.0 ? 0.0 : rounded;
}

std::vector<Direction> scatteredDirections() {
    std::vector<Direction> lattice = fibonacciSphere(rayDirectionCount);
    for (int row = 0; row < fixedLeadingRows; ++row) {
        const Direction fixed = {RayDirections[row][0], RayDirections[row][1],
                                 RayDirections[row][2]};
        lattice.erase(std::max_element(
            lattice.begin(), lattice.end(),
            [&](const Direction& a, const Direction& b) { return dot(a, fixed) < dot(b, fixed); }));
    }
    // Fisher-Yates over the raw mt19937 sequence, which the standard fixes (the library's
    // distributions and std::shuffle may differ between implementations).
    std::mt19937 generator(shuffleSeed);
    for (std::size_t i = lattice.size() - 1; i > 0; --i) {
        std::swap(lattice[i], lattice[generator() % (i + 1)]);
    }
    for (Direction& direction : lattice) {
        for (double& component : direction) {
            component = roundedToSixDecimals(component);
        }
    }
    return lattice;
}

int printRows(const std::vector<Direction>& directions) {
    for (const Direction& d : directions) {
        std::printf("    {%.6f, %.6f, %.6f},\n", d[0], d[1], d[2]);
    }
    return 0;
}

int checkTable(const std::vector<Direction>& directions) {
    // A six-decimal value survives the trip through float to within float rounding.
    constexpr double tolerance = 1e-7;
    for (std::size_t i = 0; i < directions.size(); ++i) {
        const float* stored = RayDirections[fixedLeadingRows + i];
        for (int c = 0; c < 3; ++c) {
            if (std::fabs(stored[c] - directions[i][c]) > tolerance) {
                std::fprintf(stderr,
                             "RayDirections row %zu is {%.6f, %.6f, %.6f}, expected "
                             "{%.6f, %.6f, %.6f}\n",
                             fixedLeadingRows + i, stored[0], stored[1], stored[2],
                             directions[i][0], directions[i][1], directions[i][2]);
                return 1;
            }
        }
    }
    std::printf("RayDirections rows %d to %d match\n", fixedLeadingRows, rayDirectionCount - 1);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool check = argc == 2 && std::strcmp(argv[1], "--check") == 0;
    if (argc > 2 || (argc == 2 && !check)) {
        std::fprintf(stderr, "usage: make_ray_directions [--check]\n");
        return 2;
    }
    const std::vector<Direction> directions = scatteredDirections();
    return check ? checkTable(directions) : printRows(directions);
}
