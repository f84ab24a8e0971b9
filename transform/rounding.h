// Rounding policy of a variant, fixed at compile time by PELMO_FUSED.
//
// The fused variants compute every multiply-then-add step of the key-derived
// numbers, the sparse products and the solvers with one rounding (std::fma); the
// unfused variant rounds the product and the sum separately. The build passes
// -ffp-contract=off, so a plain x * y + z below really is two roundings.
#pragma once

#include <cmath>

#ifndef PELMO_FUSED
#error "PELMO_FUSED must be defined by the build: 1 for fused multiply-add, 0 for separate rounding"
#endif

namespace Pelmora::rounding {

inline constexpr bool fused = PELMO_FUSED != 0;

// x * y + z
inline double mul_add(double x, double y, double z) {
    if constexpr (fused) {
        return std::fma(x, y, z);
    } else {
        return x * y + z;
    }
}

// z - x * y
inline double mul_sub(double x, double y, double z) {
    if constexpr (fused) {
        return std::fma(-x, y, z);
    } else {
        return z - x * y;
    }
}

}  // namespace Pelmora::rounding
