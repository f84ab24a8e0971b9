// The earlier codec of pellib and libpel_linux: bare vectors only, one fixed
// parameter profile and a shear draw at every super-diagonal position. From
// three dimensions up its encodings are not those of libpel_arm64's codec.
#pragma once

#include <string>

#include "transform/eigen.h"
#include "transform/stages.h"

// Built per call from a key and a dimension and immutable afterwards; the
// matrix and the noise are derived from the key again by every operation.
class Pelmo {
public:
    Pelmo(const std::string& key, int dim);

    // D * S * R with the shear at every (i, i+1): tridiagonal up to dimension 3,
    // with a second super-diagonal from dimension 4 on. Throws
    // std::invalid_argument for a negative dimension.
    Pelmora::SparseMatrix get_matrix() const;

    // The t > 0 with |t*u - n| = 1; reads no field.
    double solve(const Pelmora::Vector& u, const Pelmora::Vector& n) const;

    // Both take a vector of exactly `dim` components (std::invalid_argument
    // otherwise) and return a new one; decoding needs dim >= 1. Both cost
    // O(dim) time and memory. Encoding gives the bits of the dense product of
    // the transform matrix (which it still forms for a blended vector that is
    // not finite); decoding applies the inverse through the matrix's factors.
    Pelmora::Vector encode(Pelmora::Vector v) const;
    Pelmora::Vector decode(Pelmora::Vector v) const;

    const Pelmora::Profile& profile() const { return profile_; }
    const std::string& key() const { return key_; }
    int dim() const { return dim_; }

private:
    Pelmora::Profile profile_;
    std::string key_;
    int dim_;
};
