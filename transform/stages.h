// Building blocks of the keyed transform, shared by the codec of libpel_arm64 and
// by the earlier codec of pellib and libpel_linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "key/key.h"
#include "transform/eigen.h"

namespace Pelmora {

// Switches and ranges of the scaling, shear, rotation and noise stages.
struct Profile {
    bool scale_enabled;
    double scale_min;
    double scale_max;
    bool shear_enabled;
    double shear_min;
    double shear_max;
    bool rotation_enabled;
    bool noise_enabled;
    double noise_min;
    double noise_max;
};

inline constexpr Profile kProfile1{true, 0.9, 1.1, true, 0.0, 0.2, true, true, 0.2, 0.3};
inline constexpr Profile kProfile2{false, 0.9, 1.1, true, 0.0, 0.1, true, true, 0.1, 0.2};

// Every rotation angle is drawn from [-pi/2, pi/2): bounds 0xBFF921FB54442D18
// and 0x3FF921FB54442D18.
inline constexpr double kAngleMin = -1.5707963267948966;
inline constexpr double kAngleMax = 1.5707963267948966;

// The generator seeds of the scale, shear and rotation stages, from key fields
// 1, 2 and 3, parsed in that order; then std::invalid_argument for a negative
// dimension. Nothing of the matrix is built before both checks have passed.
struct TransformSeeds {
    std::uint64_t scale, shear, rotation;
};
TransformSeeds transform_seeds(const std::string& key, int dim);

// Where the shear stage puts its draws: (i, i+1) for even i only, which keeps the
// matrix block diagonal, or at every super-diagonal position (the earlier codec).
enum class ShearPattern { even_rows, every_row };

// The factors of M = D * S * R as the stages draw them, each from its own
// generator in coordinate order. A stage that is off leaves its lists empty.
struct TransformFactors {
    int dim = 0;
    ShearPattern pattern = ShearPattern::every_row;
    std::vector<double> scale;  // D(i, i), one per coordinate
    std::vector<double> shear;  // S(i, i+1) at i = k * shear_step() for the k-th value
    std::vector<double> cos;    // R(2k, 2k) = R(2k+1, 2k+1), one per pair
    std::vector<double> sin;    // R(2k, 2k+1) = -R(2k+1, 2k)

    int shear_step() const { return pattern == ShearPattern::even_rows ? 2 : 1; }
};

// The factors from key fields 1, 2 and 3 (parsed first, in that order); throws
// std::invalid_argument for a negative dimension.
TransformFactors transform_factors(const std::string& key, int dim, const Profile& profile, ShearPattern shear);

// M = D * S * R from key fields 1, 2 and 3 (parsed first, in that order).
// Throws std::invalid_argument for a negative dimension.
SparseMatrix build_matrix(const std::string& key, int dim, const Profile& profile, ShearPattern shear);

// Sparse products with the accumulation the data format fixes: contributions
// to an entry arrive in column-then-row order of the operands; the first is a
// rounded product, each later one is added with mul_add.
SparseMatrix multiply(const SparseMatrix& x, const SparseMatrix& y);
Vector multiply(const SparseMatrix& m, const Vector& v);

// The key's noise vector of the given length, seeded from key field 0's value:
// norm drawn from [noise_min, noise_max), direction from [-1, 1)^length.
Vector noise_vector(int field0_value, const Profile& profile, int length);

// Moves the direction of v by the noise vector while keeping its norm.
void blend(Vector& v, const Vector& noise);
// Undoes blend for a vector of any norm.
void remove_noise(Vector& w, const Vector& noise);
// The t > 0 with |t*u - n| = 1.
double solve_noise_root(const Vector& u, const Vector& n);

// Throws std::invalid_argument unless v has exactly dim components.
void require_length(const Vector& v, int dim);

}  // namespace Pelmora
