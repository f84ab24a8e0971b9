#include "transform/stages.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "transform/random.h"
#include "transform/rounding.h"

namespace Pelmora {

namespace {

using Triplet = Eigen::Triplet<double, int>;

SparseMatrix identity(int dim) {
    SparseMatrix m(dim, dim);
    m.setIdentity();
    return m;
}

// A matrix with the given diagonal and off-diagonal entries, each column in
// ascending row order.
SparseMatrix with_entries(const std::vector<double>& diagonal, std::vector<Triplet> entries) {
    const int dim = static_cast<int>(diagonal.size());
    for (int i = 0; i < dim; ++i) {
        entries.emplace_back(i, i, diagonal[i]);
    }
    SparseMatrix m(dim, dim);
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

}  // namespace

TransformSeeds transform_seeds(const std::string& key, int dim) {
    const TransformSeeds seeds{key_seed(parse_key_field(key, 1)), key_seed(parse_key_field(key, 2)),
                               key_seed(parse_key_field(key, 3))};
    if (dim < 0) {
        throw std::invalid_argument("The dimension must not be negative, got " + std::to_string(dim) + ".");
    }
    return seeds;
}

TransformFactors transform_factors(const std::string& key, int dim, const Profile& profile, ShearPattern shear) {
    const TransformSeeds seeds = transform_seeds(key, dim);

    TransformFactors f;
    f.dim = dim;
    f.pattern = shear;
    if (profile.scale_enabled) {
        Random generator(seeds.scale);
        const Vector factors = generator.uniform_pel(profile.scale_min, profile.scale_max, dim);
        f.scale.assign(factors.data(), factors.data() + factors.size());
    }
    if (profile.shear_enabled) {
        Random generator(seeds.shear);
        for (int i = 0; i < dim - 1; i += f.shear_step()) {
            f.shear.push_back(generator.range(profile.shear_min, profile.shear_max));
        }
    }
    if (profile.rotation_enabled) {
        Random generator(seeds.rotation);
        for (int k = 0; k < dim / 2; ++k) {
            const double angle = generator.range(kAngleMin, kAngleMax);
            f.cos.push_back(std::cos(angle));
            f.sin.push_back(std::sin(angle));
        }
    }
    return f;
}

SparseMatrix build_matrix(const std::string& key, int dim, const Profile& profile, ShearPattern shear) {
    const TransformFactors f = transform_factors(key, dim, profile, shear);

    SparseMatrix m = identity(dim);

    for (std::size_t i = 0; i < f.scale.size(); ++i) {
        m.coeffRef(static_cast<int>(i), static_cast<int>(i)) *= f.scale[i];
    }

    if (profile.shear_enabled) {
        std::vector<Triplet> entries;
        for (std::size_t k = 0; k < f.shear.size(); ++k) {
            const int i = static_cast<int>(k) * f.shear_step();
            entries.emplace_back(i, i + 1, f.shear[k]);
        }
        m = multiply(m, with_entries(std::vector<double>(dim, 1.0), std::move(entries)));
    }

    if (profile.rotation_enabled) {
        std::vector<double> diagonal(dim, 1.0);
        std::vector<Triplet> entries;
        for (int k = 0; k < dim / 2; ++k) {
            entries.emplace_back(2 * k, 2 * k + 1, f.sin[k]);
            entries.emplace_back(2 * k + 1, 2 * k, -f.sin[k]);
            diagonal[2 * k] = f.cos[k];
            diagonal[2 * k + 1] = f.cos[k];
        }
        m = multiply(m, with_entries(diagonal, std::move(entries)));
    }
    return m;
}

SparseMatrix multiply(const SparseMatrix& x, const SparseMatrix& y) {
    if (x.cols() != y.rows()) {
        throw std::invalid_argument("multiply: operand sizes do not match");
    }
    const int rows = static_cast<int>(x.rows());
    const int cols = static_cast<int>(y.cols());
    std::vector<double> column(static_cast<std::size_t>(rows), 0.0);
    std::vector<char> touched(static_cast<std::size_t>(rows), 0);
    std::vector<int> pattern;

    SparseMatrix result(rows, cols);
    result.reserve(x.nonZeros() + y.nonZeros());
    for (int j = 0; j < cols; ++j) {
        pattern.clear();
        for (SparseMatrix::InnerIterator yit(y, j); yit; ++yit) {
            const double y_mj = yit.value();
            for (SparseMatrix::InnerIterator xit(x, yit.index()); xit; ++xit) {
                const int i = xit.index();
                if (touched[i]) {
                    column[i] = rounding::mul_add(xit.value(), y_mj, column[i]);
                } else {
                    column[i] = xit.value() * y_mj;
                    touched[i] = 1;
                    pattern.push_back(i);
                }
            }
        }
        std::sort(pattern.begin(), pattern.end());
        result.startVec(j);
        for (const int i : pattern) {
            result.insertBack(i, j) = column[i];
            touched[i] = 0;
        }
    }
    result.finalize();
    return result;
}

Vector multiply(const SparseMatrix& m, const Vector& v) {
    if (m.cols() != v.size()) {
        throw std::invalid_argument("multiply: matrix and vector sizes do not match");
    }
    Vector r = Vector::Zero(m.rows());
    for (int j = 0; j < m.outerSize(); ++j) {
        const double v_j = v[j];
        for (SparseMatrix::InnerIterator it(m, j); it; ++it) {
            r[it.index()] = rounding::mul_add(it.value(), v_j, r[it.index()]);
        }
    }
    return r;
}

Vector noise_vector(int field0_value, const Profile& profile, int length) {
    Random generator(key_seed(field0_value));
    const double magnitude = generator.range(profile.noise_min, profile.noise_max);
    if (length < 0) {
        throw std::length_error("noise_vector: negative length");
    }
    // The draws of uniform_pel(-1.0, 1.0, length) without the fused step: with
    // u = k * 2^-32 each is 2.0 * u - 1.0 = (k - 2^31) * 2^-31, whose product and
    // difference are both exact, so one rounding or two give the same bits.
    Vector direction(length);
    for (int i = 0; i < length; ++i) {
        direction[i] = 2.0 * generator.next() - 1.0;
    }
    const double s = magnitude / direction.norm();
    direction *= s;
    return direction;
}

void blend(Vector& v, const Vector& noise) {
    const double a = v.norm();
    v = v / a;
    v = v + noise;
    const double b = v.norm();
    v = a * (v / b);
}

void remove_noise(Vector& w, const Vector& noise) {
    const double a = w.norm();
    w = w / a;
    const double t = solve_noise_root(w, noise);
    w = w * t - noise;
    w = a * w;
}

double solve_noise_root(const Vector& u, const Vector& n) {
    const double r = n.norm();
    const double d = u.dot(n);
    const double q = rounding::mul_sub(r, r, 1.0);
    const double p = rounding::mul_add(d, d, q);
    return std::sqrt(p) + d;
}

void require_length(const Vector& v, int dim) {
    if (v.size() != dim) {
        throw std::invalid_argument("The vector has " + std::to_string(v.size()) + " components, the codec's dimension is " +
                                    std::to_string(dim) + ".");
    }
}

}  // namespace Pelmora
