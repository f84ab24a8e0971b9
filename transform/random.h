// Linear congruential generator behind every key-derived number.
#pragma once

#include <cstdint>
#include <vector>

#include "transform/eigen.h"

namespace Pelmora {

// state' = (1674535 * state + 0x3D07B0EF) mod 2^32; each draw is state' / 2^32.
// The integer sequence and the rounding of every draw are part of the data
// format. Not a source of unpredictable numbers.
class Random {
public:
    explicit Random(std::uint64_t seed);

    // Advances the state and returns it scaled into [0, 1).
    double next();
    double random();
    // One draw between a and b: (b - a) * next() + a, fused or not by the variant.
    double range(double a, double b);
    // n draws in index order; n < 0 throws std::length_error before any draw.
    std::vector<double> uniform(double a, double b, int n);
    Vector uniform_pel(double a, double b, int n);

private:
    std::uint64_t multiplier;
    std::uint64_t increment;
    std::uint64_t modulus;
    std::uint64_t state;
};

}  // namespace Pelmora
