#include "transform/blocks.h"

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "transform/fma_clones.h"
#include "transform/random.h"
#include "transform/rounding.h"
#include "transform/tridiagonal.h"

// The kernels below are cloned for FMA where PEL_FMA_CLONES is set. Their
// helpers are inlined into each clone, so that they compile for its target; no
// clone holds Eigen code, whose packet width the translation unit fixes. They
// live in a named namespace, not an anonymous one: clang 19 emits no inline
// function that a cloned function of internal linkage calls (a constructor, a
// helper of the generator), and the library would not link.

namespace Pelmora {
namespace block_kernels {

using rounding::mul_add;
using rounding::mul_sub;

// One block of D * S * R from its scale factors, its shear value h and the
// cosine c and sine s of its angle, each used only where its stage is on. The
// sparse products D * S and (D * S) * R meet each entry's contributions in
// column-then-row order: the first is a rounded product, the second is added
// with one mul_add. With the scale stage off both factors are 1.0 and every
// product with them is exact. `b` is filled where it lies, zero and unstored
// before: a block built aside and copied in (or an angle's cosine and sine
// handed over as a pair) is read back before its stores have landed, which
// stalls every iteration.
PEL_INLINE void make_block(Block& b, const Profile& stages, double a_p, double a_q, double h, double c, double s) {
    if (stages.rotation_enabled) {
        if (stages.shear_enabled) {
            const double ah = a_p * h;  // entry (p, q) of D * S
            b.pp = mul_add(ah, -s, a_p * c);
            b.pq = mul_add(ah, c, a_p * s);
        } else {
            b.pp = a_p * c;
            b.pq = a_p * s;
        }
        b.qp = a_q * -s;
        b.qq = a_q * c;
        b.stored = Block::kAll;
    } else if (stages.shear_enabled) {
        b.pp = a_p;
        b.pq = a_p * h;
        b.qq = a_q;
        b.stored = Block::kPP | Block::kPQ | Block::kQQ;
    } else {
        b.pp = a_p;
        b.qq = a_q;
        b.stored = Block::kPP | Block::kQQ;
    }
}

// The first contribution to an entry of a sparse x dense product: mul_add(x, y,
// +0.0). That is the rounded product x * y unless the product rounds to a zero
// of either sign, where the sum gives +0.0 (unfused) or keeps the sign of the
// exact product (fused); only then is the full operation needed.
PEL_INLINE double first_product(double x, double y) {
    const double product = x * y;
    return product != 0.0 ? product : mul_add(x, y, 0.0);
}

// Draws the blocks of D * S * R in coordinate order, each stage from its own
// generator. Each block is built in place(k) and then handed to use(k, block);
// k runs over the pairs 0 .. dim/2 - 1 and is dim/2 for the 1x1 block of an
// odd dimension.
template <class Place, class Use>
PEL_INLINE void draw_blocks(const TransformSeeds& seeds, int dim, const Profile& profile, Place place, Use use) {
    Random scale(seeds.scale);
    Random shear(seeds.shear);
    Random rotation(seeds.rotation);
    auto scale_factor = [&] { return profile.scale_enabled ? scale.range(profile.scale_min, profile.scale_max) : 1.0; };
    // Both profiles draw shear values from [+0.0, max) with max far above the
    // subnormals: max * u is then +0.0 or a positive normal number, which adding
    // +0.0 leaves unchanged, fused or not. Such a draw needs no fused step.
    const bool shear_from_zero =
        profile.shear_min == 0.0 && !std::signbit(profile.shear_min) && profile.shear_max >= 0x1p-960;

    const int pairs = dim / 2;
    for (int k = 0; k < pairs; ++k) {
        const double a_p = scale_factor();
        const double a_q = scale_factor();
        double h = 0.0;
        if (profile.shear_enabled) {
            h = shear_from_zero ? profile.shear_max * shear.next() : shear.range(profile.shear_min, profile.shear_max);
        }
        double c = 1.0;
        double s = 0.0;
        if (profile.rotation_enabled) {
            const double angle = rotation.range(kAngleMin, kAngleMax);
            c = std::cos(angle);
            s = std::sin(angle);
        }
        Block& b = place(k);
        make_block(b, profile, a_p, a_q, h, c, s);
        use(k, b);
    }
    if (dim % 2 == 1) {
        Block& b = place(pairs);
        b.pp = scale_factor();
        b.stored = Block::kPP;
        use(pairs, b);
    }
}

// x[0], x[1] = b * (x[0], x[1]) for a pair, as the sparse x dense product
// accumulates: per entry +0.0 first, then each stored contribution added with
// mul_add in column order.
PEL_INLINE void apply_block(const Block& b, double* x) {
    const double x_p = x[0];
    const double x_q = x[1];
    if (b.stored == Block::kAll) {
        x[0] = mul_add(b.pq, x_q, first_product(b.pp, x_p));
        x[1] = mul_add(b.qq, x_q, first_product(b.qp, x_p));
        return;
    }
    double r_p = 0.0;
    double r_q = 0.0;
    if (b.stored & Block::kPP) r_p = mul_add(b.pp, x_p, r_p);
    if (b.stored & Block::kQP) r_q = mul_add(b.qp, x_p, r_q);
    if (b.stored & Block::kPQ) r_p = mul_add(b.pq, x_q, r_p);
    if (b.stored & Block::kQQ) r_q = mul_add(b.qq, x_q, r_q);
    x[0] = r_p;
    x[1] = r_q;
}

PEL_INLINE void apply_last(const Block& last, double* x) { *x = last.stored ? first_product(last.pp, *x) : 0.0; }

// Sets the entries of `b`, storing exactly those that are not zero; a zero
// that is not stored reads as +0.0.
PEL_INLINE void set_nonzero_entries(Block& b, double pp, double qp, double pq, double qq) {
    b.pp = pp != 0.0 ? pp : 0.0;
    b.qp = qp != 0.0 ? qp : 0.0;
    b.pq = pq != 0.0 ? pq : 0.0;
    b.qq = qq != 0.0 ? qq : 0.0;
    b.stored = static_cast<std::uint8_t>((pp != 0.0 ? Block::kPP : 0) | (qp != 0.0 ? Block::kQP : 0) |
                                         (pq != 0.0 ? Block::kPQ : 0) | (qq != 0.0 ? Block::kQQ : 0));
}

// The inverse of the 1x1 block of an odd dimension: row and column n-1 alone,
// with n >= 3, so never block 0.
PEL_INLINE bool invert_last(const Block& last, Block& out) {
    const double m = 1.0 / last.pp;
    if (!std::isfinite(m)) return false;
    set_nonzero_entries(out, m, 0.0, 0.0, 0.0);
    return true;
}

PEL_KERNEL void draw_matrix(const TransformSeeds& seeds, int dim, const Profile& profile, Block* blocks, Block& last) {
    draw_blocks(
        seeds, dim, profile, [&](int k) -> Block& { return k < dim / 2 ? blocks[k] : last; }, [](int, const Block&) {});
}

PEL_KERNEL void draw_and_apply(const TransformSeeds& seeds, int dim, const Profile& profile, double* x) {
    Block scratch;
    draw_blocks(
        seeds, dim, profile, [&](int) -> Block& { return scratch = Block(); },
        [&](int k, const Block& b) { k < dim / 2 ? apply_block(b, x + 2 * k) : apply_last(b, x + 2 * k); });
}

PEL_KERNEL void apply_blocks(const Block* blocks, std::size_t count, const Block* last, double* x) {
    for (std::size_t k = 0; k < count; ++k) {
        apply_block(blocks[k], x + 2 * k);
    }
    if (last != nullptr) {
        apply_last(*last, x + 2 * count);
    }
}

// The Thomas algorithm without pivoting, run on the unit columns e_p and e_q of
// each block. c' and the pivot reciprocals m do not depend on the right-hand
// side, and outside a column's own block the solve meets only signed zeros:
// rows above it leave the right-hand side unchanged, and rows below it and the
// couplings between blocks add nothing that is stored. What is left is the
// solver's own sequence of operations inside the block:
//   c'[p] = upper[p] / diag[p] in block 0, upper[p] * m[p] later, with
//   m[p] = 1 / diag[p] (the solver subtracts a signed zero from diag[p] first,
//   which changes no pivot that leaves m[p] finite);
//   m[q] = 1 / (diag[q] - lower[p] * c'[p]), fused;
//   d[p] = rhs[p] / diag[0] in block 0, rhs[p] * m[p] later;
//   d[q] = (rhs[q] - lower[p] * d[p]) * m[q], the difference fused;
//   x[p] = d[p] - c'[p] * x[q], fused, where x[q] = d[q].
//
// The steps run in passes over all blocks: the divisions of a pass depend on
// nothing in that pass, so they overlap (two to an instruction where the
// compiler vectorizes them) instead of each waiting behind the fused steps of
// its own block. `scratch` holds 3 * count doubles; `out` may be `in`. False,
// with `out` partly written, when a value on the way is not finite.
PEL_KERNEL bool invert_blocks(const Block* in, std::size_t count, double* scratch, Block* out) {
    // d[p] of column p (m[p] after block 0), c'[p] and m[q] of every block;
    // each pass writes its array whole before it is read.
    double* const d = scratch;
    double* const c = d + count;
    double* const m = c + count;
    for (std::size_t k = 0; k < count; ++k) {
        d[k] = in[k].pp;
    }
    for (std::size_t k = 0; k < count; ++k) {
        d[k] = 1.0 / d[k];
    }
    for (std::size_t k = 0; k < count; ++k) {
        c[k] = in[k].pq * d[k];
    }
    c[0] = in[0].pq / in[0].pp;
    for (std::size_t k = 0; k < count; ++k) {
        m[k] = mul_sub(in[k].qp, c[k], in[k].qq);
    }
    for (std::size_t k = 0; k < count; ++k) {
        m[k] = 1.0 / m[k];
    }

    for (std::size_t k = 0; k < count; ++k) {
        // Column p: rhs[q] = 0, and 0 - lower[p] * d[p] rounds, under either
        // policy, as the first contribution -lower[p] * d[p] does.
        const double d_q = first_product(-in[k].qp, d[k]) * m[k];
        const double x_p = mul_sub(c[k], d_q, d[k]);
        // Column q: d[q] = (1 - lower[p] * (+-0)) * m[q] is m[q] itself, and
        // x[p] = (+-0) - c'[p] * m[q] is the rounded product but for the sign
        // of a zero result, which is not stored.
        const double x_p_of_q = -(c[k] * m[k]);
        // Every value on the way that is not finite reaches one of the four
        // entries: a non-finite upper[p] or d[p] makes c'[p] so (c'[p] of block
        // 0 aside, where a d[p] beyond the range makes d[q] so through its
        // product), a non-finite lower[p] makes d[q] NaN through its product or
        // through m[q], a non-finite c'[p] makes c'[p] * m[q] infinite or NaN,
        // and m[q] is an entry itself. x * 0.0 is a zero for every finite x and
        // NaN for any other, so this one test stands for all of them.
        const double probe = x_p * 0.0 + d_q * 0.0 + x_p_of_q * 0.0 + m[k] * 0.0;
        if (probe != 0.0) {
            return false;
        }
        Block& b = out[k];
        if (x_p != 0.0 && d_q != 0.0 && x_p_of_q != 0.0 && m[k] != 0.0) {
            b.pp = x_p;
            b.qp = d_q;
            b.pq = x_p_of_q;
            b.qq = m[k];
            b.stored = Block::kAll;
        } else {
            set_nonzero_entries(b, x_p, d_q, x_p_of_q, m[k]);
        }
    }
    return true;
}

}  // namespace block_kernels

BlockMatrix::BlockMatrix(int dim, std::vector<Block> blocks, Block last)
    : dim_(dim), blocks_(std::move(blocks)), last_(last) {
    if (dim < 0 || blocks_.size() != static_cast<std::size_t>(dim / 2)) {
        throw std::invalid_argument("BlockMatrix: " + std::to_string(blocks_.size()) + " blocks for dimension " +
                                    std::to_string(dim));
    }
}

BlockMatrix BlockMatrix::from_seeds(const TransformSeeds& seeds, int dim, const Profile& profile) {
    std::vector<Block> blocks(static_cast<std::size_t>(dim / 2));
    Block last;
    block_kernels::draw_matrix(seeds, dim, profile, blocks.data(), last);
    return BlockMatrix(dim, std::move(blocks), last);
}

void apply_transform(const TransformSeeds& seeds, int dim, const Profile& profile, Vector& v) {
    if (v.size() != dim) {
        throw std::invalid_argument("apply_transform: the vector's length is not the dimension");
    }
    block_kernels::draw_and_apply(seeds, dim, profile, v.data());
}

void BlockMatrix::apply(Vector& v) const {
    if (v.size() != dim_) {
        throw std::invalid_argument("BlockMatrix::apply: the vector's length is not the dimension");
    }
    block_kernels::apply_blocks(blocks_.data(), blocks_.size(), dim_ % 2 == 1 ? &last_ : nullptr, v.data());
}

std::optional<BlockMatrix> BlockMatrix::invert() const& { return BlockMatrix(*this).invert(); }

// In place: the solve reads each block's entries before it writes the block's
// inverse over them.
std::optional<BlockMatrix> BlockMatrix::invert() && {
    if (dim_ < 2) {
        throw std::invalid_argument("BlockMatrix::invert: needs a dimension of at least 2");
    }
    const std::size_t count = blocks_.size();
    const std::unique_ptr<double[]> scratch(new double[3 * count]);
    if (!block_kernels::invert_blocks(blocks_.data(), count, scratch.get(), blocks_.data())) {
        return std::nullopt;
    }
    if (dim_ % 2 == 1 && !block_kernels::invert_last(last_, last_)) {
        return std::nullopt;
    }
    return std::move(*this);
}

SparseMatrix BlockMatrix::to_sparse() const {
    SparseMatrix m(dim_, dim_);
    m.reserve(4 * static_cast<Eigen::Index>(blocks_.size()) + 1);
    int p = 0;
    for (const Block& b : blocks_) {
        m.startVec(p);
        if (b.stored & Block::kPP) m.insertBack(p, p) = b.pp;
        if (b.stored & Block::kQP) m.insertBack(p + 1, p) = b.qp;
        m.startVec(p + 1);
        if (b.stored & Block::kPQ) m.insertBack(p, p + 1) = b.pq;
        if (b.stored & Block::kQQ) m.insertBack(p + 1, p + 1) = b.qq;
        p += 2;
    }
    if (dim_ % 2 == 1) {
        m.startVec(p);
        if (last_.stored) m.insertBack(p, p) = last_.pp;
    }
    m.finalize();
    return m;
}

InverseTransform::InverseTransform(const BlockMatrix& matrix) : blocks_(matrix.invert()) {
    if (!blocks_) {
        by_columns_ = invert_by_columns(matrix.to_sparse());
    }
}

InverseTransform::InverseTransform(const TransformSeeds& seeds, int dim, const Profile& profile)
    : blocks_(BlockMatrix::from_seeds(seeds, dim, profile).invert()) {
    if (!blocks_) {
        // Inverted in place, the drawn matrix is gone: the rare fallback draws it again.
        by_columns_ = invert_by_columns(BlockMatrix::from_seeds(seeds, dim, profile).to_sparse());
    }
}

void InverseTransform::apply(Vector& v) const {
    if (blocks_) {
        blocks_->apply(v);
    } else {
        v = multiply(by_columns_, v);
    }
}

}  // namespace Pelmora
