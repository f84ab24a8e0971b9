#include "earlier/products.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "transform/rounding.h"

// The order below is read off Eigen 3.4's general_matrix_vector_product for
// column-major matrices (Eigen/src/Core/products/GeneralMatrixVector.h); another
// release may sum otherwise, and the encodings hosts keep would change.
#if !(EIGEN_WORLD_VERSION == 3 && EIGEN_MAJOR_VERSION == 4)
#error "The earlier codec's encoding reproduces the summation order of Eigen 3.4's dense matrix * vector product; build with Eigen 3.4.x"
#endif

namespace Pelmora {

namespace {

// Whether the kernel's packet rows fuse: its pmadd on two-double packets is
// vfmaq_f64 on 64-bit Arm (which always has __ARM_FEATURE_FMA) and a multiply
// then an add with SSE2. Fixed by the target Eigen compiles for, like the
// kernel itself, never by the CPU that runs it.
#if defined(EIGEN_VECTORIZE_NEON) && defined(__ARM_FEATURE_FMA)
constexpr bool kPacketRowsFused = true;
#elif defined(EIGEN_VECTORIZE_SSE2) && !defined(EIGEN_VECTORIZE_FMA)
constexpr bool kPacketRowsFused = false;
#else
#error "The order of Eigen's dense matrix * vector product is known here for SSE2 on x86-64 and NEON on 64-bit Arm only"
#endif

// Columns per panel: Eigen's block_cols for a matrix of this many columns and
// this column stride (its row count), in bytes below 32000 or not.
Eigen::Index panel_width(Eigen::Index rows, Eigen::Index cols) {
    if (cols < 128) return cols;
    return rows * static_cast<Eigen::Index>(sizeof(double)) < 32000 ? 16 : 4;
}

}  // namespace

Vector dense_order_product(const SparseMatrix& m, const Vector& v) {
    if (m.rows() != m.cols() || m.cols() != v.size()) {
        throw std::invalid_argument("dense_order_product: operand sizes do not match");
    }
    // A 1 x 1 product goes to Eigen's dot product instead, +0.0 + m(0, 0) * v(0):
    // the single unfused row below gives the same.
    const Eigen::Index n = m.rows();
    const Eigen::Index packet_rows = n - n % 2;
    const Eigen::Index width = panel_width(n, n);

    Vector result = Vector::Zero(n);
    std::vector<double> partial(static_cast<std::size_t>(n), 0.0);
    std::vector<char> touched(static_cast<std::size_t>(n), 0);
    std::vector<int> rows;
    for (Eigen::Index first = 0; first < n; first += width) {
        const Eigen::Index end = std::min(first + width, n);
        for (Eigen::Index j = first; j < end; ++j) {
            const double v_j = v[j];
            for (SparseMatrix::InnerIterator it(m, j); it; ++it) {
                const int i = it.index();
                if (!touched[i]) {
                    touched[i] = 1;
                    partial[i] = 0.0;
                    rows.push_back(i);
                }
                if (kPacketRowsFused && i < packet_rows) {
                    partial[i] = std::fma(it.value(), v_j, partial[i]);
                } else {
                    partial[i] = partial[i] + it.value() * v_j;
                }
            }
        }
        // The panel's sums join the result, one addition a row: the kernel's
        // pmadd(sum, 1.0, result) rounds once either way.
        for (const int i : rows) {
            result[i] = result[i] + partial[i];
            touched[i] = 0;
        }
        rows.clear();
    }
    return result;
}

void apply_inverse(const TransformFactors& f, Vector& v) {
    if (v.size() != f.dim) {
        throw std::invalid_argument("apply_inverse: the vector's length is not the matrix's dimension");
    }
    for (std::size_t i = 0; i < f.scale.size(); ++i) {
        v[static_cast<Eigen::Index>(i)] /= f.scale[i];
    }
    // S is unit upper triangular with its values at (i, i + 1): row i of
    // S * w = z gives w_i = z_i - S(i, i+1) * w_{i+1}, from the last row up.
    const int step = f.shear_step();
    for (int k = static_cast<int>(f.shear.size()) - 1; k >= 0; --k) {
        const int i = k * step;
        v[i] = rounding::mul_sub(f.shear[static_cast<std::size_t>(k)], v[i + 1], v[i]);
    }
    // R^T turns each pair back: (c*w_p - s*w_q, s*w_p + c*w_q).
    for (std::size_t k = 0; k < f.cos.size(); ++k) {
        const Eigen::Index p = 2 * static_cast<Eigen::Index>(k);
        const double c = f.cos[k];
        const double s = f.sin[k];
        const double w_p = v[p];
        const double w_q = v[p + 1];
        v[p] = rounding::mul_sub(s, w_q, c * w_p);
        v[p + 1] = rounding::mul_add(s, w_p, c * w_q);
    }
}

}  // namespace Pelmora
