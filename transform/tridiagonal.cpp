#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

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

// The inverse of a band that is block diagonal with 2x2 blocks on (2k, 2k+1) and a
// trailing 1x1 block, in O(n). It repeats, for each column, exactly the operations
// the column-by-column solve performs inside that column's block: c' and the
// pivot reciprocals do not depend on the right-hand side, and outside the block
// the solve only ever meets signed zeros, which are not stored. Returns false
// (leaving `inverse` unspecified) for any other band or when a value is not
// finite, where those arguments fail.
bool invert_block_diagonal(const Band& band, SparseMatrix& inverse) {
    const std::vector<double>& lower = band.lower;
    const std::vector<double>& diag = band.diag;
    const std::vector<double>& upper = band.upper;
    const int n = static_cast<int>(diag.size());
    for (int i = 0; i < n - 1; ++i) {
        if (!std::isfinite(lower[i]) || !std::isfinite(upper[i])) return false;
        if (i % 2 == 1 && (lower[i] != 0.0 || upper[i] != 0.0)) return false;  // couples two blocks
    }

    // c'[i] and, for i > 0, m[i] = 1 / den[i], as the solver forms them.
    std::vector<double> c(n, 0.0);
    std::vector<double> m(n, 0.0);
    c[0] = upper[0] / diag[0];
    if (!std::isfinite(c[0]) || !std::isfinite(1.0 / diag[0])) return false;
    for (int i = 1; i < n; ++i) {
        m[i] = 1.0 / rounding::mul_sub(lower[i - 1], c[i - 1], diag[i]);
        c[i] = i < n - 1 ? upper[i] * m[i] : 0.0;
        if (!std::isfinite(m[i]) || !std::isfinite(c[i])) return false;
    }

    // The first forward step of a column: rhs / diag[0] in row 0, rhs * m[p] after
    // it (the zero carried in from the rows above leaves rhs unchanged).
    auto first = [&](int p, double rhs) { return p == 0 ? rhs / diag[0] : rhs * m[p]; };

    inverse = SparseMatrix(n, n);
    inverse.reserve(2 * n);
    for (int p = 0; p < n; p += 2) {
        const int q = p + 1;
        for (int j = p; j <= q && j < n; ++j) {
            inverse.startVec(j);
            const double d_p = first(p, j == p ? 1.0 : 0.0);
            if (q == n) {  // trailing 1x1 block
                if (!std::isfinite(d_p)) return false;
                if (d_p != 0.0) inverse.insertBack(p, j) = d_p;
                continue;
            }
            const double d_q = rounding::mul_sub(lower[p], d_p, j == q ? 1.0 : 0.0) * m[q];
            const double x_p = rounding::mul_sub(c[p], d_q, d_p);
            if (!std::isfinite(d_p) || !std::isfinite(d_q) || !std::isfinite(x_p)) return false;
            if (x_p != 0.0) inverse.insertBack(p, j) = x_p;
            if (d_q != 0.0) inverse.insertBack(q, j) = d_q;
        }
    }
    inverse.finalize();
    return true;
}

}  // namespace

SparseMatrix Utils::invertMatrix(const SparseMatrix& matrix) {
    const Band band = read_band(matrix);
    SparseMatrix inverse;
    if (invert_block_diagonal(band, inverse)) {
        return inverse;
    }
    return invert_band_by_columns(band);
}

SparseMatrix invert_by_columns(const SparseMatrix& matrix) { return invert_band_by_columns(read_band(matrix)); }

}  // namespace Pelmora
