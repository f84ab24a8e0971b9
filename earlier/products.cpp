#include "earlier/products.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

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

RowMatrix transform_rows(const TransformFactors& f) {
    const int n = f.dim;
    const int pairs = n / 2;
    if (f.pattern != ShearPattern::every_row || static_cast<int>(f.shear.size()) != std::max(n - 1, 0) ||
        static_cast<int>(f.cos.size()) != pairs) {
        throw std::invalid_argument("transform_rows: the earlier codec's shear and rotation stages are needed");
    }
    const auto a = [&](int i) { return f.scale.empty() ? 1.0 : f.scale[static_cast<std::size_t>(i)]; };
    // D * S holds a_i on the diagonal and the rounded a_i * h_i beside it;
    // (D * S) * R meets each entry's contributions in column-then-row order of
    // R: the first is a rounded product, the second is added with mul_add.
    const auto g = [&](int i) { return a(i) * f.shear[static_cast<std::size_t>(i)]; };
    RowMatrix m(n, n);
    m.reserve(3 * n);
    for (int k = 0; k < pairs; ++k) {
        const int p = 2 * k;
        const int q = p + 1;
        const double c = f.cos[static_cast<std::size_t>(k)];
        const double s = f.sin[static_cast<std::size_t>(k)];
        const double g_p = g(p);
        m.startVec(p);
        m.insertBack(p, p) = rounding::mul_add(g_p, -s, a(p) * c);
        m.insertBack(p, q) = rounding::mul_add(g_p, c, a(p) * s);
        m.startVec(q);
        m.insertBack(q, p) = a(q) * -s;
        m.insertBack(q, q) = a(q) * c;
        // Row q reaches into the next pair through S(q, q+1), or into the
        // last coordinate of an odd dimension, which no rotation moves.
        if (q + 1 < n) {
            const double g_q = g(q);
            if (k + 1 < pairs) {
                m.insertBack(q, q + 1) = g_q * f.cos[static_cast<std::size_t>(k) + 1];
                m.insertBack(q, q + 2) = g_q * f.sin[static_cast<std::size_t>(k) + 1];
            } else {
                m.insertBack(q, q + 1) = g_q * 1.0;
            }
        }
    }
    if (n % 2 == 1) {
        m.startVec(n - 1);
        m.insertBack(n - 1, n - 1) = a(n - 1);
    }
    m.finalize();
    return m;
}

Vector dense_order_product(const RowMatrix& m, const Vector& v) {
    if (m.rows() != m.cols() || m.cols() != v.size()) {
        throw std::invalid_argument("dense_order_product: operand sizes do not match");
    }
    // A 1 x 1 product goes to Eigen's dot product instead, +0.0 + m(0, 0) * v(0):
    // the single unfused row below gives the same.
    const Eigen::Index n = m.rows();
    const Eigen::Index packet_rows = n - n % 2;
    const Eigen::Index width = panel_width(n, n);
    Vector result(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const bool fused = kPacketRowsFused && i < packet_rows;
        double sum = 0.0;
        double panel_sum = 0.0;
        Eigen::Index panel = -1;
        for (RowMatrix::InnerIterator it(m, i); it; ++it) {
            const Eigen::Index j = it.index();
            if (j / width != panel) {
                // The kernel's pmadd(panel sum, 1.0, result) rounds once either way.
                if (panel >= 0) sum = sum + panel_sum;
                panel_sum = 0.0;
                panel = j / width;
            }
            panel_sum = fused ? std::fma(it.value(), v[j], panel_sum) : panel_sum + it.value() * v[j];
        }
        if (panel >= 0) sum = sum + panel_sum;
        result[i] = sum;
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
