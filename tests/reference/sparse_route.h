// The straightforward route of the vector codec: the transform matrix built by
// sparse products, the sparse x dense product, and the inverse by one solve per
// column. The codec's block route is held to it bit for bit, failures included.
#pragma once

#include "transform/pelmo.h"
#include "transform/tridiagonal.h"

namespace pel_reference {

using Inverter = Pelmora::SparseMatrix (*)(const Pelmora::SparseMatrix&);

// What Pelmo::encode_vector and Pelmo::decode_vector compute, in the same order
// of checks and failures. Decoding inverts with `invert`: the column solves by
// default, Utils::invertMatrix for timing the route as it stood.
void encode_vector(const Pelmora::Pelmo& codec, Pelmora::Vector& v);
void decode_vector(const Pelmora::Pelmo& codec, Pelmora::Vector& v, Inverter invert = Pelmora::invert_by_columns);

}  // namespace pel_reference
