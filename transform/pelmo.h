// The codec object: one call's key, metric name, profile version and dimension.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "transform/blocks.h"
#include "transform/eigen.h"
#include "transform/stages.h"

namespace Pelmora {

// The system's own line for a version other than 1 or 2.
inline constexpr char kInvalidVersion[] = "Invalid version number";

// Throws std::invalid_argument unless `dim` is at least 2: the inverse of the
// transform needs a whole 2x2 block.
void require_decoding_dimension(int dim);

// Built per call and immutable afterwards; holds no derived state. Every
// operation derives the matrix, the noise and the cipher from the key again.
//
// Version 1 or 2 selects the parameter profile; any other version writes
// "Invalid version number" to stderr and leaves an object without profile and
// with an empty key, whose key-reading operations fail. Scaling is on only for
// version 1 with the metric name "COSINE".
class Pelmo {
public:
    Pelmo(const std::string& key, const std::string& space, int version, int dim);

    // The key-derived transform matrix: block diagonal with 2x2 blocks (and a
    // trailing 1x1 block for an odd dimension).
    SparseMatrix get_matrix() const;
    // The same matrix as its blocks, the form every vector operation uses.
    BlockMatrix get_blocks() const;

    // The t > 0 with |t*u - n| = 1; reads no field.
    double solve(const Vector& u, const Vector& n) const;

    // In place; v must have `dim` components (std::invalid_argument otherwise).
    void encode_vector(Vector& v) const;
    // In place; needs dim >= 2 and v of `dim` components.
    void decode_vector(Vector& v) const;

    // Record sets (defined in records/).
    nlohmann::json encode(const nlohmann::json& records) const;
    nlohmann::json decode(const nlohmann::json& records, const Vector& query) const;

    bool has_profile() const { return has_profile_; }
    const Profile& profile() const { return profile_; }
    const std::string& key() const { return key_; }
    const std::string& space() const { return space_; }
    int version() const { return version_; }
    int dim() const { return dim_; }

private:
    Profile profile_{};
    bool has_profile_ = false;
    std::string key_;
    std::string space_;
    int version_;
    int dim_;
};

}  // namespace Pelmora
