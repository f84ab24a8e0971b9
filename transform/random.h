// Linear congruential generator behind every key-derived number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "transform/eigen.h"
#include "transform/rounding.h"

// In the rounding policy's namespace: range() rounds by the variant's policy.
namespace Pelmora {
inline namespace PELMO_ROUNDING_POLICY {

// state' = (1674535 * state + 0x3D07B0EF) mod 2^32; each draw is state' / 2^32.
// The integer sequence and the rounding of every draw are part of the data
// format. Not a source of unpredictable numbers.
// All inline: the transform draws a few numbers per coordinate, and a generator
// that the compiler sees whole keeps its constant fields out of the arithmetic.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : multiplier(1674535), increment(0x3D07B0EF), modulus(std::uint64_t{1} << 32), state(seed) {}

    // Advances the state and returns it scaled into [0, 1).
    double next() {
        // Wraps modulo 2^64 on the first step for seeds of 2^32 or more; since
        // 2^32 divides 2^64 such a seed acts as seed mod 2^32.
        state = (multiplier * state + increment) % modulus;
        return static_cast<double>(state) / static_cast<double>(modulus);
    }
    double random() { return next(); }
    // One draw between a and b: (b - a) * next() + a, fused or not by the variant.
    double range(double a, double b) { return rounding::mul_add(b - a, next(), a); }
    // n draws in index order; n < 0 throws std::length_error before any draw.
    std::vector<double> uniform(double a, double b, int n) {
        std::vector<double> values(static_cast<std::size_t>(n));  // negative n: length_error
        for (double& value : values) {
            value = range(a, b);
        }
        return values;
    }
    Vector uniform_pel(double a, double b, int n) {
        if (n < 0) {
            throw std::length_error("Random::uniform_pel: negative count");
        }
        Vector values(n);
        for (int i = 0; i < n; ++i) {
            values[i] = range(a, b);
        }
        return values;
    }

private:
    std::uint64_t multiplier;
    std::uint64_t increment;
    std::uint64_t modulus;
    std::uint64_t state;
};

}  // namespace PELMO_ROUNDING_POLICY
}  // namespace Pelmora
