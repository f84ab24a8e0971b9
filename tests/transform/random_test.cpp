#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "bits.h"
#include "transform/random.h"
#include "transform/rounding.h"

namespace {

using Pelmora::Random;

constexpr double kHalfPi = 1.5707963267948966;

TEST(Random, SeedZeroStatesAndFirstDraw) {
    // The state after each step is the draw times 2^32.
    const std::uint64_t states[] = {1023914223, 217991256, 1446325847, 807840560};
    Random generator(0);
    for (const std::uint64_t state : states) {
        EXPECT_SAME_BITS(static_cast<double>(state) / 4294967296.0, generator.next());
    }
    EXPECT_SAME_BITS(0.2383986075874418, Random(0).next());
}

TEST(Random, ThirdAngleDrawDependsOnRounding) {
    Random generator(0);
    generator.next();
    generator.next();
    const double angle = generator.range(-kHalfPi, kHalfPi);
    // One rounding of w*u + a, or the product and the sum rounded separately.
    const double expected = Pelmora::rounding::fused ? -0.5128682117510527 : -0.5128682117510526;
    EXPECT_SAME_BITS(expected, angle);
}

TEST(Random, Seed12345Sequence) {
    Random generator(12345);
    EXPECT_SAME_BITS(0.05150500638410449, generator.random());
    const std::vector<double> u = generator.uniform(10.0, 20.0, 5);
    const double expected[] = {11.74264014000073, 14.2908221995458, 14.335902503225952, 12.882225546054542,
                               19.938748518470675};
    ASSERT_EQ(u.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_SAME_BITS(expected[i], u[i]);
    }
    EXPECT_SAME_BITS(34.63436336722225, generator.range(30.0, 40.0));
    EXPECT_SAME_BITS(36.045117585454136, generator.range(30.0, 40.0));
}

TEST(Random, NegativeKeyFieldSeedActsModulo2To32) {
    // -FFF sign-extends to 2^64 - 4095.
    Random wide(18446744073709547521ull);
    Random narrow(4294963201ull);
    EXPECT_SAME_BITS(2756627990.0 / 4294967296.0, wide.next());
    narrow.next();
    for (int i = 0; i < 100; ++i) {
        EXPECT_SAME_BITS(narrow.next(), wide.next());
    }
}

TEST(Random, RangeOfEqualBoundsAndZeroState) {
    Random generator(7);
    EXPECT_SAME_BITS(2.5, generator.range(2.5, 2.5));
    // The state that steps to 0 solves 1674535 * s + 0x3D07B0EF = 0 (mod 2^32); the
    // multiplier is odd, so Newton's iteration gives its inverse modulo 2^32.
    const std::uint32_t a = 1674535;
    std::uint32_t inverse = a;
    for (int i = 0; i < 5; ++i) inverse *= 2u - a * inverse;
    const std::uint32_t s = (0u - 0x3D07B0EFu) * inverse;
    Random to_zero(s);
    EXPECT_SAME_BITS(-3.25, to_zero.range(-3.25, 8.0));
}

TEST(Random, ContainersDrawLikeRepeatedRange) {
    Random a(99), b(99), c(99);
    const std::vector<double> u = a.uniform(-1.0, 1.0, 50);
    const Pelmora::Vector v = b.uniform_pel(-1.0, 1.0, 50);
    for (int i = 0; i < 50; ++i) {
        const double r = c.range(-1.0, 1.0);
        EXPECT_SAME_BITS(r, u[i]);
        EXPECT_SAME_BITS(r, v[i]);
    }
}

TEST(Random, EmptyAndNegativeCountsDrawNothing) {
    Random generator(5), reference(5);
    EXPECT_TRUE(generator.uniform(0.0, 1.0, 0).empty());
    EXPECT_EQ(generator.uniform_pel(0.0, 1.0, 0).size(), 0);
    EXPECT_THROW(generator.uniform(0.0, 1.0, -1), std::length_error);
    EXPECT_THROW(generator.uniform_pel(0.0, 1.0, -1), std::length_error);
    EXPECT_SAME_BITS(reference.next(), generator.next());
}

}  // namespace
