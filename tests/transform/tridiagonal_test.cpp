#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "bits.h"
#include "transform/utils.h"

namespace {

using Pelmora::SparseMatrix;
using Pelmora::Utils;
using Triplet = Eigen::Triplet<double, int>;

SparseMatrix from(int n, const std::vector<Triplet>& entries) {
    SparseMatrix m(n, n);
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

// 2x2 blocks along the diagonal, plus a 1x1 block when n is odd.
SparseMatrix block_diagonal(int n) {
    std::vector<Triplet> entries;
    for (int p = 0; p + 1 < n; p += 2) {
        entries.emplace_back(p, p, 1.5 + p);
        entries.emplace_back(p, p + 1, 0.25);
        entries.emplace_back(p + 1, p, -0.75);
        entries.emplace_back(p + 1, p + 1, 2.0);
    }
    if (n % 2) entries.emplace_back(n - 1, n - 1, 4.0);
    return from(n, entries);
}

TEST(Tridiagonal, FullTwoByTwoInverse) {
    const SparseMatrix inverse = Utils::invertMatrix(from(2, {{0, 0, 2.0}, {0, 1, 1.0}, {1, 0, 1.0}, {1, 1, 3.0}}));
    EXPECT_EQ(4, inverse.nonZeros());
    const Eigen::Matrix2d expected = (Eigen::Matrix2d() << 3.0, -1.0, -1.0, 2.0).finished() / 5.0;
    EXPECT_TRUE(Eigen::MatrixXd(inverse).isApprox(expected, 1e-15));
}

TEST(Tridiagonal, InverseKeepsTheBlockPattern) {
    for (const int n : {4, 5}) {
        SCOPED_TRACE(n);
        const SparseMatrix m = block_diagonal(n);
        const SparseMatrix inverse = Utils::invertMatrix(m);
        EXPECT_EQ(m.nonZeros(), inverse.nonZeros());  // 8 and 9
        for (int j = 0; j < n; ++j) {
            for (SparseMatrix::InnerIterator it(inverse, j); it; ++it) {
                EXPECT_EQ(it.row() / 2, j / 2);
            }
        }
        EXPECT_TRUE(Eigen::MatrixXd(m * inverse).isApprox(Eigen::MatrixXd::Identity(n, n), 1e-14));
    }
}

TEST(Tridiagonal, ReadsOnlyTheThreeCentralDiagonals) {
    SparseMatrix banded = block_diagonal(5);
    const SparseMatrix reference = Utils::invertMatrix(banded);
    banded.coeffRef(0, 3) = 9.0;
    banded.coeffRef(4, 1) = -7.0;
    const SparseMatrix inverse = Utils::invertMatrix(banded);
    ASSERT_EQ(reference.nonZeros(), inverse.nonZeros());
    for (int i = 0; i < inverse.nonZeros(); ++i) {
        EXPECT_SAME_BITS(reference.valuePtr()[i], inverse.valuePtr()[i]);
    }
}

TEST(Tridiagonal, ExactZerosAreDroppedAndNaNsKept) {
    // Column 1 solves to (-0.0, 1): the -0.0 is not stored.
    const SparseMatrix signed_zero = Utils::invertMatrix(from(2, {{0, 0, -1.0}, {0, 1, -0.0}, {1, 1, 1.0}}));
    EXPECT_EQ(2, signed_zero.nonZeros());
    // A zero first pivot goes undetected and fills the inverse with non-finite values.
    const SparseMatrix singular = Utils::invertMatrix(from(2, {{1, 1, 1.0}}));
    EXPECT_EQ(4, singular.nonZeros());
    for (int i = 0; i < singular.nonZeros(); ++i) {
        EXPECT_FALSE(std::isfinite(singular.valuePtr()[i]));
    }
}

TEST(Tridiagonal, SolverLeavesEntriesBeyondTheOrder) {
    std::vector<double> solution = {0.0, 0.0, 0.0, 42.0};
    Utils::transformAlgorithm({1.0, 1.0}, {4.0, 4.0, 4.0}, {1.0, 1.0}, {5.0, 6.0, 5.0}, solution);
    EXPECT_DOUBLE_EQ(1.0, solution[0]);
    EXPECT_DOUBLE_EQ(1.0, solution[1]);
    EXPECT_DOUBLE_EQ(1.0, solution[2]);
    EXPECT_EQ(42.0, solution[3]);
}

TEST(Tridiagonal, RefusesWhatItCannotSolve) {
    std::vector<double> solution(3);
    EXPECT_THROW(Utils::transformAlgorithm({1.0}, {1.0, 1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0, 1.0}, solution),
                 std::invalid_argument);
    std::vector<double> one(1);
    EXPECT_THROW(Utils::transformAlgorithm({}, {1.0}, {}, {1.0}, one), std::invalid_argument);
    EXPECT_THROW(Utils::invertMatrix(SparseMatrix(1, 1)), std::invalid_argument);
    EXPECT_THROW(Utils::invertMatrix(SparseMatrix(0, 0)), std::invalid_argument);
}

}  // namespace
