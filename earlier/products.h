// The two products of the earlier codec in O(dim) time and memory.
//
// Its encodings were made by Eigen's dense matrix * vector product of the
// transform matrix, and hosts keep them: encoding sums the stored entries in
// the very order that product sums a row, so every bit stays. Its decodings
// carry no such promise: they apply the inverse through the matrix's factors,
// which is cheaper and more accurate than the dense LU inverse they came from.
#pragma once

#include "transform/eigen.h"
#include "transform/stages.h"

namespace Pelmora {

// A matrix by rows, each row's stored entries in ascending column order.
using RowMatrix = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;

// The earlier codec's M = D * S * R (shear at every (i, i+1), rotation on) by
// rows, each entry rounded as the sparse products of build_matrix round it and
// exactly the entries they store: an odd row i reaches from column i-1 to
// i+2, an even one holds i and i+1. std::invalid_argument for factors of
// another shear pattern or with the shear or rotation stage off.
RowMatrix transform_rows(const TransformFactors& f);

// m * v for a square m, summed as Eigen 3.4's column-major matrix * vector
// kernel sums Dense(m) * v on the target this is compiled for: the columns in
// panels (all of them below 128, else 16, and 4 from 4000 rows on), each row of
// a panel summed from +0.0 in column order, then added to the row's result,
// which starts at +0.0. The rows the kernel takes in packets of two (all but
// the last of an odd dimension) fuse each step where its packets do, on 64-bit
// Arm. Unstored entries are skipped: for a finite v they add a zero that
// changes no sum, so the result has the bits of the dense product. For a v
// that is not finite it does not (the dense product meets 0 * inf), and the
// caller needs the dense product itself.
Vector dense_order_product(const RowMatrix& m, const Vector& v);

// v = M^-1 * v = R^T * (S^-1 * (D^-1 * v)) for the M of these factors: each
// component divided by its scale factor, then the back substitution of the
// unit upper triangular shear from the last coordinate up, then each pair
// rotated back, every multiply-then-add step rounded by the variant's policy.
// v must have f.dim components.
void apply_inverse(const TransformFactors& f, Vector& v);

}  // namespace Pelmora
