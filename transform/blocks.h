// The transform matrix in the form its shape allows: one 2x2 block on the
// coordinates p = 2k, q = 2k+1 of each pair, and a 1x1 block on the last
// coordinate of an odd dimension. Building, inverting and applying it this way
// costs O(dim) with no sparse machinery, and gives the very bits the sparse
// products and the column-by-column solve give: every entry is rounded the way
// those routes round it, and an entry they do not store is never multiplied.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "transform/eigen.h"
#include "transform/stages.h"

namespace Pelmora {

struct Block {
    // Bits of `stored`, one per entry, in the order of the column-major storage.
    static constexpr std::uint8_t kPP = 1, kQP = 2, kPQ = 4, kQQ = 8, kAll = 15;

    // Rows and columns p and q of the block. An entry that is not stored holds
    // +0.0, which is what a lookup of it in the sparse form reads.
    double pp = 0.0, qp = 0.0, pq = 0.0, qq = 0.0;
    std::uint8_t stored = 0;
};

// v = M * v for the M of these seeds, each block drawn as it is needed: the bits
// of BlockMatrix::from_seeds(seeds, ...).apply(v) without holding the matrix.
void apply_transform(const TransformSeeds& seeds, int dim, const Profile& profile, Vector& v);

class BlockMatrix {
public:
    // M = D * S * R; each stage draws from its own generator, in coordinate
    // order. dim >= 0, as transform_seeds ensures.
    static BlockMatrix from_seeds(const TransformSeeds& seeds, int dim, const Profile& profile);

    // The matrix with these blocks: dim / 2 of them, and `last` for the 1x1
    // block of an odd dimension. std::invalid_argument for a negative dim or
    // another number of blocks.
    BlockMatrix(int dim, std::vector<Block> blocks, Block last);

    // v = M * v in place, accumulated as the sparse x dense product does: per
    // entry +0.0 first, then each stored contribution added with mul_add in
    // column order. v must have dim components.
    void apply(Vector& v) const;

    // The inverse the tridiagonal solve gives, column by column, with its
    // exactly zero entries not stored. Needs a dimension of at least 2. Empty
    // when a value on the way is not finite: there the column solve spreads
    // NaNs beyond a block, and only it gives those bits.
    std::optional<BlockMatrix> invert() const&;
    std::optional<BlockMatrix> invert() &&;

    SparseMatrix to_sparse() const;

private:
    int dim_;
    std::vector<Block> blocks_;
    Block last_;
};

// The inverse of a transform matrix as decoding applies it to every vector: in
// block form, or, where that meets a value that is not finite, as the sparse
// matrix of the column-by-column solve with the sparse x dense product.
class InverseTransform {
public:
    // Both need a dimension of at least 2; the second draws M first.
    explicit InverseTransform(const BlockMatrix& matrix);
    InverseTransform(const TransformSeeds& seeds, int dim, const Profile& profile);

    void apply(Vector& v) const;

    // False where the inverse fell back to the column solves.
    bool in_blocks() const { return blocks_.has_value(); }

private:
    std::optional<BlockMatrix> blocks_;
    SparseMatrix by_columns_;  // only where blocks_ is empty
};

}  // namespace Pelmora
