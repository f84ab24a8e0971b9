#include "reference/sparse_route.h"

#include "transform/stages.h"
#include "transform/tridiagonal.h"

namespace pel_reference {

using namespace Pelmora;

namespace {

SparseMatrix sparse_matrix(const Pelmo& codec) {
    return build_matrix(codec.key(), codec.dim(), codec.profile(), ShearPattern::even_rows);
}

}  // namespace

void encode_vector(const Pelmo& codec, Vector& v) {
    const int field0 = parse_key_field(codec.key(), 0);
    require_length(v, codec.dim());
    if (codec.profile().noise_enabled) {
        blend(v, noise_vector(field0, codec.profile(), codec.dim()));
    }
    v = multiply(sparse_matrix(codec), v);
}

void decode_vector(const Pelmo& codec, Vector& v, Inverter invert) {
    const SparseMatrix m = sparse_matrix(codec);
    require_decoding_dimension(codec.dim());
    require_length(v, codec.dim());
    v = multiply(invert(m), v);
    if (codec.profile().noise_enabled) {
        remove_noise(v, noise_vector(parse_key_field(codec.key(), 0), codec.profile(), static_cast<int>(v.size())));
    }
}

}  // namespace pel_reference
