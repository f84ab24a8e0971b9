// Sample vectors and distances shared by the earlier codec's tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace pel_test {

// Components uniform in [-1, 1) from a fixed seed; put the seed in the test's
// trace so a failing case can be replayed.
inline std::vector<double> sample_vector(std::uint64_t seed, int dim) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> component(-1.0, 1.0);
    std::vector<double> v(static_cast<std::size_t>(dim));
    for (double& x : v) x = component(engine);
    return v;
}

inline double norm(const std::vector<double>& v) {
    double sum = 0.0;
    for (const double x : v) sum += x * x;
    return std::sqrt(sum);
}

// Largest component difference relative to the norm of `reference`.
inline double relative_distance(const std::vector<double>& reference, const std::vector<double>& other) {
    double worst = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        worst = std::max(worst, std::fabs(reference[i] - other[i]));
    }
    return worst / norm(reference);
}

// A round trip through the earlier codec loses a few units in the last place
// per component (observed below 5e-16 up to dimension 64).
constexpr double kRoundTripTolerance = 1e-13;

}  // namespace pel_test
