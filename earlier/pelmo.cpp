#include "earlier/pelmo.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "earlier/products.h"

namespace {

using Dense = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic>;

void require_dimension(bool holds, const char* rule, int dim) {
    if (!holds) {
        throw std::invalid_argument(std::string(rule) + ", got " + std::to_string(dim) + ".");
    }
}

}  // namespace

Pelmo::Pelmo(const std::string& key, int dim) : profile_(Pelmora::kProfile1), key_(key), dim_(dim) {}

Pelmora::SparseMatrix Pelmo::get_matrix() const {
    return Pelmora::build_matrix(key_, dim_, profile_, Pelmora::ShearPattern::every_row);
}

double Pelmo::solve(const Pelmora::Vector& u, const Pelmora::Vector& n) const {
    return Pelmora::solve_noise_root(u, n);
}

Pelmora::Vector Pelmo::encode(Pelmora::Vector v) const {
    // Field 0 is read before anything else, so a bad noise field fails even
    // before the dimension is looked at.
    const int field0 = Pelmora::parse_key_field(key_, 0);
    require_dimension(dim_ >= 0, "The dimension must not be negative", dim_);
    Pelmora::require_length(v, dim_);
    if (profile_.noise_enabled) {
        Pelmora::blend(v, Pelmora::noise_vector(field0, profile_, static_cast<int>(v.size())));
    }
    const Pelmora::TransformFactors factors =
        Pelmora::transform_factors(key_, dim_, profile_, Pelmora::ShearPattern::every_row);
    if (std::all_of(v.data(), v.data() + v.size(), [](double x) { return std::isfinite(x); })) {
        return Pelmora::dense_order_product(Pelmora::transform_rows(factors), v);
    }
    // Every entry of the dense product meets every component, zeros included,
    // and 0 * inf is NaN: only that product gives these bits.
    return Dense(get_matrix()) * v;
}

Pelmora::Vector Pelmo::decode(Pelmora::Vector v) const {
    const Pelmora::TransformFactors factors =
        Pelmora::transform_factors(key_, dim_, profile_, Pelmora::ShearPattern::every_row);
    require_dimension(dim_ >= 1, "Decoding needs a dimension of at least 1", dim_);
    Pelmora::require_length(v, dim_);
    Pelmora::apply_inverse(factors, v);
    // Field 0 only after the products, whether or not the noise is on.
    const int field0 = Pelmora::parse_key_field(key_, 0);
    if (profile_.noise_enabled) {
        Pelmora::remove_noise(v, Pelmora::noise_vector(field0, profile_, static_cast<int>(v.size())));
    }
    return v;
}
