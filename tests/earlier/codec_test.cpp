// The earlier codec in-process, built with this executable's rounding policy.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bits.h"
#include "earlier/pelmo.h"
#include "earlier/random.h"
#include "transform/rounding.h"
#include "transform/stages.h"

namespace {

using Pelmora::SparseMatrix;
using Pelmora::Vector;

const std::string kZeroKey = "0000000000000000";
const std::string kKey = "9f3e77a1c05b2d68";
constexpr double kHalfPi = 1.5707963267948966;

// Seed 0 draws, exact rational arithmetic rounded once; the same under both
// rounding policies (only the third angle draw differs, see below).
constexpr double kScale1 = 0.9101510088890791;
constexpr double kScale2 = 0.9673497955780477;
constexpr double kSecondShear = 0.010151008889079095;  // second draw in [0, 0.2)

SparseMatrix arm64_matrix(const std::string& key, int dim) {
    return Pelmora::build_matrix(key, dim, Pelmora::kProfile1, Pelmora::ShearPattern::even_rows);
}

bool stored(const SparseMatrix& m, int row, int col) {
    for (SparseMatrix::InnerIterator it(m, col); it; ++it) {
        if (it.row() == row) return true;
    }
    return false;
}

std::vector<std::pair<int, int>> positions(const SparseMatrix& m) {
    std::vector<std::pair<int, int>> result;
    for (int col = 0; col < m.outerSize(); ++col) {
        for (SparseMatrix::InnerIterator it(m, col); it; ++it) result.emplace_back(static_cast<int>(it.row()), col);
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST(EarlierGenerator, ThirdAngleDrawOfSeedZero) {
    Random generator(0);
    generator.next();
    generator.next();
    const double expected = Pelmora::rounding::fused ? -0.5128682117510527 : -0.5128682117510526;
    EXPECT_SAME_BITS(expected, generator.range(-kHalfPi, kHalfPi));
}

TEST(EarlierGenerator, Seed12345IsTheSameUnderBothPolicies) {
    Random generator(12345);
    EXPECT_SAME_BITS(0.05150500638410449, generator.random());
    const double expected[] = {11.74264014000073, 14.2908221995458, 14.335902503225952, 12.882225546054542,
                               19.938748518470675};
    const std::vector<double> u = generator.uniform(10.0, 20.0, 5);
    ASSERT_EQ(5u, u.size());
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_SAME_BITS(expected[i], u[i]);
    }
    EXPECT_SAME_BITS(34.63436336722225, generator.range(30.0, 40.0));
    EXPECT_SAME_BITS(36.045117585454136, generator.range(30.0, 40.0));
}

// Below dimension 3 there is only the shear position (0, 1), which both
// patterns fill with the first draw.
TEST(EarlierMatrix, EqualsTheArm64ProfileOneMatrixUpToDimensionTwo) {
    for (const int dim : {0, 1, 2}) {
        SCOPED_TRACE(dim);
        const SparseMatrix earlier = Pelmo(kKey, dim).get_matrix();
        const SparseMatrix arm64 = arm64_matrix(kKey, dim);
        ASSERT_EQ(positions(arm64), positions(earlier));
        for (const auto& [row, col] : positions(arm64)) {
            EXPECT_SAME_BITS(arm64.coeff(row, col), earlier.coeff(row, col));
        }
    }
}

// The second shear draw lands at (1, 2), coupling the first block to the next
// coordinate; at dimension 4 the rotation of the second block spreads it to
// (1, 3).
TEST(EarlierMatrix, ExtraEntriesFromDimensionThree) {
    struct Case {
        int dim;
        std::vector<std::pair<int, int>> extra;
    };
    const Case cases[] = {{3, {{1, 2}}}, {4, {{1, 2}, {1, 3}}}};
    for (const std::string& key : {kZeroKey, kKey}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(key + " dim " + std::to_string(c.dim));
            const SparseMatrix earlier = Pelmo(key, c.dim).get_matrix();
            const SparseMatrix arm64 = arm64_matrix(key, c.dim);
            std::vector<std::pair<int, int>> expected = positions(arm64);
            expected.insert(expected.end(), c.extra.begin(), c.extra.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(expected, positions(earlier));
            for (const auto& [row, col] : c.extra) {
                EXPECT_FALSE(stored(arm64, row, col));
                EXPECT_NE(0.0, earlier.coeff(row, col)) << row << "," << col;
            }
        }
    }
}

TEST(EarlierMatrix, ZeroKeyDimensionThree) {
    const SparseMatrix m = Pelmo(kZeroKey, 3).get_matrix();
    // Coordinate 2 is in no rotation block: its row is the scale factor alone,
    // and (1, 2) is a_1 times the second shear draw.
    EXPECT_SAME_BITS(kScale2, m.coeff(2, 2));
    EXPECT_SAME_BITS(kScale1 * kSecondShear, m.coeff(1, 2));
    EXPECT_FALSE(stored(m, 2, 0));
    EXPECT_FALSE(stored(m, 2, 1));
}

TEST(EarlierCodec, RefusesWhatItCannotTransform) {
    struct Case {
        const char* name;
        std::string key;
        int dim;
        int length;
        bool decode;
        const char* reason;  // substring of what()
    };
    const Case cases[] = {
        {"encode length differs", kKey, 4, 3, false, "components"},
        {"decode length differs", kKey, 4, 5, true, "components"},
        {"encode negative dim", kKey, -1, 0, false, "negative"},
        {"decode negative dim", kKey, -2, 0, true, "negative"},
        {"decode dim 0", kKey, 0, 0, true, "at least 1"},
        {"encode bad noise field", "zzzz77a1c05b2d68", 4, 4, false, R"(The key's characters 0 to 3 ("zzzz") are not hexadecimal.)"},
        {"decode bad noise field", "zzzz77a1c05b2d68", 4, 4, true, R"(The key's characters 0 to 3 ("zzzz") are not hexadecimal.)"},
        {"bad scale field", "9f3ezzzzc05b2d68", 4, 4, false,
         R"(The key's characters 4 to 7 ("zzzz") are not hexadecimal.)"},
        // Encoding reads field 0 before it looks at the dimension.
        {"field 0 before dimension", "", -1, 0, false, "The key has 0 characters; the codec reads the first 16."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Pelmo codec(c.key, c.dim);
        const Vector v = Vector::Constant(c.length, 0.25);
        try {
            c.decode ? codec.decode(v) : codec.encode(v);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.reason)) << e.what();
        }
    }
    // The matrix's key fields come first in decoding: field 3 beyond the end.
    EXPECT_THROW(Pelmo("zzzz56789ab", 2).decode(Vector::Ones(2)), std::out_of_range);
}

TEST(EarlierCodec, DimensionZeroEncodesToEmpty) {
    EXPECT_EQ(0, Pelmo(kKey, 0).encode(Vector()).size());
}

}  // namespace
