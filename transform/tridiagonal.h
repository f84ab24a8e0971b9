// The straightforward tridiagonal inverse: one full solve per column. It is the
// fallback of Utils::invertMatrix and the reference its fast path is held to.
#pragma once

#include "transform/eigen.h"

namespace Pelmora {

SparseMatrix invert_by_columns(const SparseMatrix& matrix);

}  // namespace Pelmora
