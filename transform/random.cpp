#include "transform/random.h"

#include <stdexcept>

#include "transform/rounding.h"

namespace Pelmora {

Random::Random(std::uint64_t seed)
    : multiplier(1674535), increment(0x3D07B0EF), modulus(std::uint64_t{1} << 32), state(seed) {}

double Random::next() {
    // Wraps modulo 2^64 on the first step for seeds of 2^32 or more; since 2^32
    // divides 2^64 such a seed acts as seed mod 2^32.
    state = (multiplier * state + increment) % modulus;
    return static_cast<double>(state) / static_cast<double>(modulus);
}

double Random::random() { return next(); }

double Random::range(double a, double b) {
    const double width = b - a;
    return rounding::mul_add(width, next(), a);
}

std::vector<double> Random::uniform(double a, double b, int n) {
    std::vector<double> values(static_cast<std::size_t>(n));  // negative n: length_error
    for (double& value : values) {
        value = range(a, b);
    }
    return values;
}

Vector Random::uniform_pel(double a, double b, int n) {
    if (n < 0) {
        throw std::length_error("Random::uniform_pel: negative count");
    }
    Vector values(n);
    for (int i = 0; i < n; ++i) {
        values[i] = range(a, b);
    }
    return values;
}

}  // namespace Pelmora
