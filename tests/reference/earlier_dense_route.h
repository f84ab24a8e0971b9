// The earlier codec's dense route, as its encoding and decoding were first
// built: the transform matrix converted to a dense one, the dense product, and
// the inverse by Eigen's LU decomposition with partial pivoting. Encoding is
// held to it bit for bit; decoding, to its accuracy. Header-only, so that each
// test builds it with the rounding policy of the core it links.
#pragma once

#include <string>

#include "earlier/pelmo.h"
// After transform/eigen.h (through earlier/pelmo.h), so that Eigen's checks throw.
#include <Eigen/LU>

namespace pel_reference {

using Dense = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic>;

inline Dense dense_matrix(const Pelmo& codec) { return Dense(codec.get_matrix()); }

// Eigen's dense matrix * vector product.
inline Pelmora::Vector dense_product(const Dense& m, const Pelmora::Vector& v) { return m * v; }

// Pelmo::encode through the dense product, with its checks in its order.
inline Pelmora::Vector earlier_encode(const Pelmo& codec, Pelmora::Vector v) {
    const int field0 = Pelmora::parse_key_field(codec.key(), 0);
    if (codec.dim() < 0) {
        throw std::invalid_argument("The dimension must not be negative, got " + std::to_string(codec.dim()) + ".");
    }
    Pelmora::require_length(v, codec.dim());
    if (codec.profile().noise_enabled) {
        Pelmora::blend(v, Pelmora::noise_vector(field0, codec.profile(), static_cast<int>(v.size())));
    }
    return dense_product(dense_matrix(codec), v);
}

// The rest of a dense decoding once the inverse is at hand: the product, then
// field 0 and the noise removal.
inline Pelmora::Vector finish_dense_decode(const Pelmo& codec, const Dense& inverse, Pelmora::Vector v) {
    v = inverse * v;
    const int field0 = Pelmora::parse_key_field(codec.key(), 0);
    if (codec.profile().noise_enabled) {
        Pelmora::remove_noise(v, Pelmora::noise_vector(field0, codec.profile(), static_cast<int>(v.size())));
    }
    return v;
}

// Pelmo::decode through the dense LU inverse, with its checks in its order.
inline Pelmora::Vector earlier_decode(const Pelmo& codec, Pelmora::Vector v) {
    const Dense m = dense_matrix(codec);
    if (codec.dim() < 1) {
        throw std::invalid_argument("Decoding needs a dimension of at least 1, got " + std::to_string(codec.dim()) +
                                    ".");
    }
    Pelmora::require_length(v, codec.dim());
    return finish_dense_decode(codec, m.inverse(), std::move(v));
}

}  // namespace pel_reference
