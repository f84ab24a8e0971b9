// Exported functions of libpel_arm64.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "interface/guard.h"
#include "pel_arm64.h"
#include "transform/pelmo.h"

namespace Pelmora {
namespace {

// The codec of one call. The constructor has already written "Invalid version
// number" for a bad version; the call then fails with that same reason.
Pelmo make_codec(const char* key, const char* space, int version, int dim) {
    std::string key_text = boundary::text_argument(key, "key");
    std::string space_text = boundary::text_argument(space, "space");
    Pelmo codec(key_text, space_text, version, dim);
    if (!codec.has_profile()) {
        throw std::invalid_argument("Invalid version number");
    }
    boundary::require(dim >= 0, "The dimension must not be negative.");
    return codec;
}

Vector copy_in(const double* input, int dim, const char* name) {
    if (input == nullptr) {
        throw std::invalid_argument(std::string("The argument ") + name + " is null.");
    }
    return Eigen::Map<const Vector>(input, dim);
}

template <class Operation>
void transform_vector(const char* function, const char* key, const char* space, int version, int dim,
                      const double* input, double* output, Operation operation) {
    boundary::guarded(function, [&] {
        const Pelmo codec = make_codec(key, space, version, dim);
        Vector v = copy_in(input, dim, "input");
        boundary::require(output != nullptr, "The argument output is null.");
        operation(codec, v);
        std::copy(v.data(), v.data() + v.size(), output);
    });
}

}  // namespace
}  // namespace Pelmora

extern "C" {

PEL_EXPORT void encode_vector(const char* key, const char* space, int version, int dim, const double* input,
                              double* output) {
    Pelmora::transform_vector("encode_vector", key, space, version, dim, input, output,
                              [](const Pelmora::Pelmo& codec, Pelmora::Vector& v) { codec.encode_vector(v); });
}

PEL_EXPORT void decode_vector(const char* key, const char* space, int version, int dim, const double* input,
                              double* output) {
    Pelmora::transform_vector("decode_vector", key, space, version, dim, input, output,
                              [](const Pelmora::Pelmo& codec, Pelmora::Vector& v) { codec.decode_vector(v); });
}

PEL_EXPORT const char* last_error_message(void) { return Pelmora::boundary::last_error(); }

}  // extern "C"
