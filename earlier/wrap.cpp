// Exported functions of pellib and libpel_linux.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "earlier/pelmo.h"
#include "interface/guard.h"
#include "pel_earlier.h"

namespace {

using Pelmora::Vector;
namespace boundary = Pelmora::boundary;

// Arguments are all checked before the codec runs, so that nothing is computed
// for a call that cannot write its result.
template <class Operation>
void transform_vector(const char* function, const char* key, const double* input, int dim, double* output,
                      Operation operation) {
    boundary::guarded(function, [&] {
        const std::string key_text = boundary::text_argument(key, "key");
        const Pelmo codec(key_text, dim);
        boundary::require(dim >= 0, "The dimension must not be negative.");
        boundary::require(input != nullptr, "The argument input is null.");
        boundary::require(output != nullptr, "The argument output is null.");
        const Vector v = Eigen::Map<const Vector>(input, dim);
        const Vector result = operation(codec, v);
        if (result.size() != dim) {
            throw std::logic_error("The codec returned " + std::to_string(result.size()) + " components instead of " +
                                   std::to_string(dim) + ".");
        }
        std::copy(result.data(), result.data() + result.size(), output);
    });
}

}  // namespace

extern "C" {

PEL_EXPORT void encode(const char* key, const double* input, int dim, double* output) {
    transform_vector("encode", key, input, dim, output,
                     [](const Pelmo& codec, const Vector& v) { return codec.encode(v); });
}

PEL_EXPORT void decode(const char* key, const double* input, int dim, double* output) {
    transform_vector("decode", key, input, dim, output,
                     [](const Pelmo& codec, const Vector& v) { return codec.decode(v); });
}

PEL_EXPORT const char* last_error_message(void) { return boundary::last_error(); }

}  // extern "C"
