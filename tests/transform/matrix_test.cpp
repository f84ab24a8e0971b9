#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bits.h"
#include "transform/pelmo.h"
#include "transform/rounding.h"
#include "transform/utils.h"

namespace {

using Pelmora::Pelmo;
using Pelmora::SparseMatrix;
using Pelmora::rounding::mul_add;

const std::string kZeroKey = "0000000000000000";

// Seed 0 in every stage.
constexpr double kScale[] = {0.9476797215174884, 0.9101510088890791, 0.9673497955780477};
constexpr double kShear1 = 0.047679721517488366;
constexpr double kShear2 = 0.023839860758744183;
constexpr double kAngle0 = -0.8218450125721535;
constexpr double kAngle2 = -0.5128682117510527;

bool stored(const SparseMatrix& m, int row, int col) {
    for (SparseMatrix::InnerIterator it(m, col); it; ++it) {
        if (it.row() == row) return true;
    }
    return false;
}

// Block k of M = D * S * R from its scale factors, shear and angle.
void expect_block(const SparseMatrix& m, int k, double ap, double aq, double h, double angle) {
    const int p = 2 * k, q = p + 1;
    const double c = std::cos(angle), s = std::sin(angle);
    EXPECT_SAME_BITS(mul_add(ap * h, -s, ap * c), m.coeff(p, p));
    EXPECT_SAME_BITS(mul_add(ap * h, c, ap * s), m.coeff(p, q));
    EXPECT_SAME_BITS(aq * -s, m.coeff(q, p));
    EXPECT_SAME_BITS(aq * c, m.coeff(q, q));
}

TEST(Matrix, ZeroKeyDimThreeProfileOne) {
    const SparseMatrix m = Pelmo(kZeroKey, "COSINE", 1, 3).get_matrix();
    ASSERT_EQ(3, m.rows());
    EXPECT_EQ(5, m.nonZeros());
    expect_block(m, 0, kScale[0], kScale[1], kShear1, kAngle0);
    EXPECT_SAME_BITS(kScale[2], m.coeff(2, 2));
    EXPECT_FALSE(stored(m, 1, 2));
    EXPECT_FALSE(stored(m, 2, 1));
}

TEST(Matrix, ZeroKeyWithoutScaling) {
    // Profile 2 halves the shear bound; L2 under profile 1 keeps the shear and drops the scale.
    expect_block(Pelmo(kZeroKey, "COSINE", 2, 3).get_matrix(), 0, 1.0, 1.0, kShear2, kAngle0);
    const SparseMatrix l2 = Pelmo(kZeroKey, "L2", 1, 3).get_matrix();
    expect_block(l2, 0, 1.0, 1.0, kShear1, kAngle0);
    EXPECT_SAME_BITS(1.0, l2.coeff(2, 2));
}

TEST(Matrix, ThirdAngleAtDimSix) {
    const SparseMatrix m = Pelmo(kZeroKey, "L2", 2, 6).get_matrix();
    EXPECT_SAME_BITS(std::cos(kAngle2), m.coeff(5, 5));
    EXPECT_SAME_BITS(-std::sin(kAngle2), m.coeff(5, 4));
}

TEST(Matrix, BlockDiagonalShapeAtEveryDim) {
    for (int dim = 0; dim <= 9; ++dim) {
        SCOPED_TRACE(dim);
        const SparseMatrix m = Pelmo("3f2a9c01b7e4d658", "COSINE", 1, dim).get_matrix();
        ASSERT_EQ(dim, m.rows());
        ASSERT_EQ(dim, m.cols());
        EXPECT_EQ(4 * (dim / 2) + dim % 2, m.nonZeros());
        for (int j = 0; j < dim; ++j) {
            for (SparseMatrix::InnerIterator it(m, j); it; ++it) {
                EXPECT_EQ(it.row() / 2, j / 2) << "entry outside its block at " << it.row() << "," << j;
            }
        }
    }
}

TEST(Matrix, DependsOnlyOnFieldsOneToThree) {
    const SparseMatrix a = Pelmo("aaaa3f2a9c01b7e4", "COSINE", 1, 8).get_matrix();
    const SparseMatrix b = Pelmo("bbbb3f2a9c01b7e4ffff", "COSINE", 1, 8).get_matrix();
    ASSERT_EQ(a.nonZeros(), b.nonZeros());
    for (int i = 0; i < a.nonZeros(); ++i) {
        EXPECT_SAME_BITS(a.valuePtr()[i], b.valuePtr()[i]);
        EXPECT_EQ(a.innerIndexPtr()[i], b.innerIndexPtr()[i]);
    }
}

TEST(Matrix, InverseTimesMatrixIsIdentity) {
    for (const int version : {1, 2}) {
        for (const int dim : {2, 3, 10, 31}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(dim));
            const SparseMatrix m = Pelmo("c0ffee00deadbeef", "COSINE", version, dim).get_matrix();
            const Eigen::MatrixXd product = Eigen::MatrixXd(m * Pelmora::Utils::invertMatrix(m));
            EXPECT_TRUE(product.isApprox(Eigen::MatrixXd::Identity(dim, dim), 1e-12));
        }
    }
}

TEST(Matrix, NegativeDimensionIsRefused) {
    EXPECT_THROW(Pelmo(kZeroKey, "COSINE", 1, -2).get_matrix(), std::invalid_argument);
}

}  // namespace
