#include "transform/pelmo.h"

#include <iostream>
#include <stdexcept>
#include <string>

namespace Pelmora {

void require_decoding_dimension(int dim) {
    if (dim < 2) {
        throw std::invalid_argument("Decoding needs a dimension of at least 2, got " + std::to_string(dim) + ".");
    }
}

Pelmo::Pelmo(const std::string& key, const std::string& space, int version, int dim)
    : space_(space), version_(version), dim_(dim) {
    if (version == 1 || version == 2) {
        profile_ = version == 1 ? kProfile1 : kProfile2;
        has_profile_ = true;
        key_ = key;
    } else {
        // One write, so the line cannot interleave with those of concurrent calls.
        std::cerr << (std::string(kInvalidVersion) + '\n') << std::flush;
    }
    if (space_ != "COSINE") {
        profile_.scale_enabled = false;
    }
}

SparseMatrix Pelmo::get_matrix() const { return get_blocks().to_sparse(); }

BlockMatrix Pelmo::get_blocks() const {
    return BlockMatrix::from_seeds(transform_seeds(key_, dim_), dim_, profile_);
}

double Pelmo::solve(const Vector& u, const Vector& n) const { return solve_noise_root(u, n); }

void Pelmo::encode_vector(Vector& v) const {
    const int field0 = parse_key_field(key_, 0);
    require_length(v, dim_);
    if (profile_.noise_enabled) {
        blend(v, noise_vector(field0, profile_, dim_));
    }
    apply_transform(transform_seeds(key_, dim_), dim_, profile_, v);
}

void Pelmo::decode_vector(Vector& v) const {
    const TransformSeeds seeds = transform_seeds(key_, dim_);
    require_decoding_dimension(dim_);
    require_length(v, dim_);
    InverseTransform(seeds, dim_, profile_).apply(v);
    if (profile_.noise_enabled) {
        remove_noise(v, noise_vector(parse_key_field(key_, 0), profile_, static_cast<int>(v.size())));
    }
}

}  // namespace Pelmora
