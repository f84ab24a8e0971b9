#include <stdexcept>
#include <string>
#include <vector>

#include "transform/rounding.h"
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

SparseMatrix Utils::invertMatrix(const SparseMatrix& matrix) {
    const int n = static_cast<int>(matrix.rows());
    if (n < 2 || matrix.cols() != n) {
        throw std::invalid_argument("invertMatrix: needs a square matrix of order at least 2, got " +
                                    std::to_string(matrix.rows()) + " x " + std::to_string(matrix.cols()));
    }
    std::vector<double> lower(n - 1, 0.0);
    std::vector<double> diag(n, 0.0);
    std::vector<double> upper(n - 1, 0.0);
    for (int i = 0; i < n; ++i) {
        if (i > 0) {
            lower[i - 1] = matrix.coeff(i, i - 1);
        }
        diag[i] = matrix.coeff(i, i);
        if (i < n - 1) {
            upper[i] = matrix.coeff(i, i + 1);
        }
    }

    std::vector<Eigen::Triplet<double, int>> entries;
    for (int j = 0; j < n; ++j) {
        std::vector<double> e(n, 0.0);
        std::vector<double> x(n, 0.0);
        e[j] = 1.0;
        transformAlgorithm(lower, diag, upper, e, x);
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

}  // namespace Pelmora
