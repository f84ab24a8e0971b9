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

// Encoded vectors are stored by hosts and decoded years later: their bits rest
// on IEEE arithmetic with NaN, infinities, signed zeros and no reassociation.
#if defined(__FAST_MATH__)
#error "Built with -ffast-math: it reorders and contracts arithmetic and changes the bits of every encoded vector"
#endif
#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "Built with -ffinite-math-only: the codec's NaN and infinity handling (and so its encoded bits) would change"
#endif

// Each policy's inline code lives in a namespace of its own, so that if a fused
// and an unfused variant ever meet in one binary the linker cannot merge their
// copies of an inline function and silently hand one variant the other's
// rounding: the names differ.
#if PELMO_FUSED
#define PELMO_ROUNDING_POLICY fused_rounding
#else
#define PELMO_ROUNDING_POLICY separate_rounding
#endif

namespace Pelmora {
inline namespace PELMO_ROUNDING_POLICY {
namespace rounding {

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

}  // namespace rounding
}  // namespace PELMO_ROUNDING_POLICY
}  // namespace Pelmora
