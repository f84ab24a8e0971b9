// A fused and an unfused variant linked into one binary each keep their own
// rounding: their inline functions have different names, so the linker cannot
// fold one policy's copy into the other's.
#include <gtest/gtest.h>

#include <cmath>

#include "bits.h"
#include "probe.h"

namespace {

TEST(RoundingPolicies, VariantsInOneBinaryKeepTheirOwnInlineCode) {
    // 0.1 * 10 rounds to exactly 1; only the fused step keeps the error.
    const double x = 0.1, y = 10.0, z = -1.0;
    EXPECT_SAME_BITS(std::fma(x, y, z), policy_probe::fused_mul_add(x, y, z));
    const double product = x * y;
    EXPECT_SAME_BITS(product + z, policy_probe::separate_mul_add(x, y, z));

    // The generator's third draw from seed 0 is one whose last bit depends on
    // the rounding.
    EXPECT_NE(pel_test::bits(policy_probe::fused_third_angle()), pel_test::bits(policy_probe::separate_third_angle()));
}

}  // namespace
