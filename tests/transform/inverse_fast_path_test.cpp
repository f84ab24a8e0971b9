// Utils::invertMatrix takes an O(n) route for block-diagonal matrices; it must
// agree bit for bit, and in which entries it stores, with one solve per column.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "transform/pelmo.h"
#include "transform/tridiagonal.h"
#include "transform/utils.h"

namespace {

using Pelmora::SparseMatrix;

void expect_identical(const SparseMatrix& expected, const SparseMatrix& actual) {
    ASSERT_EQ(expected.rows(), actual.rows());
    ASSERT_EQ(expected.nonZeros(), actual.nonZeros());
    for (int j = 0; j < expected.outerSize(); ++j) {
        SparseMatrix::InnerIterator e(expected, j), a(actual, j);
        for (; e && a; ++e, ++a) {
            ASSERT_EQ(e.row(), a.row()) << "column " << j;
            ASSERT_EQ(pel_test::bits(e.value()), pel_test::bits(a.value()))
                << "at " << e.row() << "," << j << ": " << pel_test::show(e.value()) << " vs "
                << pel_test::show(a.value());
        }
        ASSERT_EQ(bool(e), bool(a)) << "column " << j;
    }
}

std::string random_key(std::mt19937_64& engine) {
    static const char digits[] = "0123456789abcdef";
    std::string key(32, '0');
    for (char& c : key) c = digits[engine() % 16];
    return key;
}

TEST(InverseFastPath, MatchesColumnSolvesOnTransformMatrices) {
    const unsigned seed = 7001;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 engine(seed);
    for (const int dim : {2, 3, 4, 5, 16, 17, 255, 768, 1536, 2048}) {
        for (int round = 0; round < (dim > 1000 ? 2 : 8); ++round) {
            const std::string key = random_key(engine);
            const int version = 1 + round % 2;
            SCOPED_TRACE(key + " v" + std::to_string(version) + " dim " + std::to_string(dim));
            const SparseMatrix m = Pelmora::Pelmo(key, round % 4 < 2 ? "COSINE" : "L2", version, dim).get_matrix();
            expect_identical(Pelmora::invert_by_columns(m), Pelmora::Utils::invertMatrix(m));
        }
    }
}

TEST(InverseFastPath, OtherMatricesTakeTheColumnRoute) {
    using Triplet = Eigen::Triplet<double, int>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        int n;
        std::vector<Triplet> entries;
    };
    const Case cases[] = {
        {"coupled blocks", 4, {{0, 0, 2}, {1, 1, 3}, {2, 2, 4}, {3, 3, 5}, {1, 2, 0.5}, {2, 1, -0.25}}},
        {"zero first pivot", 3, {{1, 1, 1}, {2, 2, 1}, {0, 1, 1}}},
        {"zero later pivot", 4, {{0, 0, 1}, {1, 1, 1}, {0, 1, 1}, {1, 0, 1}, {2, 2, 1}, {3, 3, 1}}},
        {"NaN entry", 4, {{0, 0, 1}, {1, 1, nan}, {2, 2, 1}, {3, 3, 1}}},
        {"infinite entry", 3, {{0, 0, 1}, {1, 1, 1}, {1, 0, inf}, {2, 2, 1}}},
        {"signed zeros", 2, {{0, 0, -1}, {0, 1, -0.0}, {1, 1, 1}}},
        {"denormal pivot", 2, {{0, 0, 4.9e-324}, {1, 1, 1}, {0, 1, 1}, {1, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SparseMatrix m(c.n, c.n);
        m.setFromTriplets(c.entries.begin(), c.entries.end());
        expect_identical(Pelmora::invert_by_columns(m), Pelmora::Utils::invertMatrix(m));
    }
}

}  // namespace
