// The one way this library includes Eigen.
#pragma once

#include <stdexcept>

// Every user of Eigen here computes encoded bits: it gets the build's
// floating-point checks with the rounding policy.
#include "transform/rounding.h"

// Eigen checks sizes and indices with eigen_assert. Those checks stay on in every
// build, NDEBUG or not, and raise an exception that the exported functions report
// like any other failure instead of aborting the host process.
#ifndef eigen_assert
#define eigen_assert(x) \
    ((x) ? static_cast<void>(0) : throw std::logic_error("internal check failed: " #x))
#endif

#include <Eigen/Core>
#include <Eigen/SparseCore>

// Norms and dot products sum in packet order; encodings match across machines only
// when that order is the two-double packets of 64-bit Arm (SSE2 on x86-64, no AVX).
static_assert(Eigen::internal::packet_traits<double>::size == 2,
              "Eigen must vectorise doubles in packets of two (build without AVX)");

namespace Pelmora {

using Vector = Eigen::Matrix<double, Eigen::Dynamic, 1>;
using SparseMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

}  // namespace Pelmora
