#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "transform/blocks.h"
#include "transform/rounding.h"
#include "transform/tridiagonal.h"
#include "transform/utils.h"

namespace Pelmora {

void Utils::transformAlgorithm(const std::vector<double>& lower, const std::vector<double>& diag,
                               const std::vector<double>& upper, const std::vector<double>& rhs,
                               std::vector<double>& solution) {
    const std::size_t n = rhs.size();
    if (n == 0) {
        return;
    }
    if (lower.size() < n - 1 || diag.size() < n || upper.empty() || upper.size() < n - 1 || solution.size() < n) {
        throw std::invalid_argument("transformAlgorithm: coefficient or solution lists too short for order " +
                                    std::to_string(n));
    }

    // c' and d': the modified super-diagonal and right-hand side.
    std::vector<double> c(n, 0.0);
    std::vector<double> d(n, 0.0);
    c[0] = upper[0] / diag[0];
    d[0] = rhs[0] / diag[0];
    for (std::size_t i = 1; i < n; ++i) {
        const double m = 1.0 / rounding::mul_sub(lower[i - 1], c[i - 1], diag[i]);
        c[i] = i < n - 1 ? upper[i] * m : 0.0;
        d[i] = rounding::mul_sub(lower[i - 1], d[i - 1], rhs[i]) * m;
    }

    solution[n - 1] = d[n - 1];
    for (std::size_t i = n - 1; i-- > 0;) {
        solution[i] = rounding::mul_sub(c[i], solution[i + 1], d[i]);
    }
}

namespace {

struct Band {
    std::vector<double> lower, diag, upper;
};

Band read_band(const SparseMatrix& matrix) {
    const int n = static_cast<int>(matrix.rows());
    if (n < 2 || matrix.cols() != n) {
        throw std::invalid_argument("invertMatrix: needs a square matrix of order at least 2, got " +
                                    std::to_string(matrix.rows()) + " x " + std::to_string(matrix.cols()));
    }
    Band band{std::vector<double>(n - 1, 0.0), std::vector<double>(n, 0.0), std::vector<double>(n - 1, 0.0)};
    for (int i = 0; i < n; ++i) {
        if (i > 0) {
            band.lower[i - 1] = matrix.coeff(i, i - 1);
        }
        band.diag[i] = matrix.coeff(i, i);
        if (i < n - 1) {
            band.upper[i] = matrix.coeff(i, i + 1);
        }
    }
    return band;
}

SparseMatrix invert_band_by_columns(const Band& band) {
    const int n = static_cast<int>(band.diag.size());
    std::vector<Eigen::Triplet<double, int>> entries;
    for (int j = 0; j < n; ++j) {
        std::vector<double> e(n, 0.0);
        std::vector<double> x(n, 0.0);
        e[j] = 1.0;
        Utils::transformAlgorithm(band.lower, band.diag, band.upper, e, x);
        for (int i = 0; i < n; ++i) {
            if (x[i] != 0.0) {
                entries.emplace_back(i, j, x[i]);
            }
        }
    }
    SparseMatrix inverse(n, n);
    inverse.setFromTriplets(entries.begin(), entries.end());
    return inverse;
}

// The band as blocks when it is block diagonal with 2x2 blocks on (2k, 2k+1)
// and a trailing 1x1 block: the entries at odd positions of the off-diagonals,
// which would couple two blocks, are zero. Empty for any other band, and when
// an off-diagonal entry is not finite.
std::optional<BlockMatrix> as_blocks(const Band& band) {
    const int n = static_cast<int>(band.diag.size());
    for (int i = 0; i < n - 1; ++i) {
        if (!std::isfinite(band.lower[i]) || !std::isfinite(band.upper[i])) return std::nullopt;
        if (i % 2 == 1 && (band.lower[i] != 0.0 || band.upper[i] != 0.0)) return std::nullopt;
    }
    std::vector<Block> pairs(static_cast<std::size_t>(n / 2));
    for (int k = 0; k < n / 2; ++k) {
        const int p = 2 * k;
        pairs[k] = {band.diag[p], band.lower[p], band.upper[p], band.diag[p + 1], Block::kAll};
    }
    Block last;
    if (n % 2 == 1) {
        last = {band.diag[n - 1], 0.0, 0.0, 0.0, Block::kPP};
    }
    return BlockMatrix(n, std::move(pairs), last);
}

}  // namespace

SparseMatrix Utils::invertMatrix(const SparseMatrix& matrix) {
    const Band band = read_band(matrix);
    if (const std::optional<BlockMatrix> blocks = as_blocks(band)) {
        if (const std::optional<BlockMatrix> inverse = blocks->invert()) {
            return inverse->to_sparse();
        }
    }
    return invert_band_by_columns(band);
}

SparseMatrix invert_by_columns(const SparseMatrix& matrix) { return invert_band_by_columns(read_band(matrix)); }

}  // namespace Pelmora
