// Exported functions of libpel_arm64.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "interface/guard.h"
#include "pel_arm64.h"
#include "records/records.h"
#include "transform/pelmo.h"

namespace Pelmora {
namespace {

// The codec of one call. For a bad version the constructor has already written
// its line "Invalid version number"; the call then fails with that reason and
// the version given, and no second line.
Pelmo make_codec(const char* key, const char* space, int version, int dim) {
    std::string key_text = boundary::text_argument(key, "key");
    std::string space_text = boundary::text_argument(space, "space");
    Pelmo codec(key_text, space_text, version, dim);
    if (!codec.has_profile()) {
        throw boundary::AlreadyWritten(std::string(kInvalidVersion) + ". The version given is " +
                                       std::to_string(version) + "; the versions are 1 and 2.");
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

// encode's text that does not parse is the one failure reported on a line of
// its own, which hosts of this library expect.
char* encode_reporting_text(const Pelmo& codec, const char* records_json) {
    try {
        return encode_records(codec, records_json);
    } catch (const RecordSetNotParsed& e) {
        boundary::write_and_fail(e.what());
    }
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

PEL_EXPORT void encode(const char* key, const char* space, int version, int dim, const char* records_json,
                       char** out_json) {
    using namespace Pelmora;
    boundary::guarded("encode", [&] {
        const Pelmo codec = make_codec(key, space, version, dim);
        boundary::require(records_json != nullptr, "The argument records_json is null.");
        boundary::require(out_json != nullptr, "The argument out_json is null.");
        *out_json = encode_reporting_text(codec, records_json);
    });
}

PEL_EXPORT void decode(const char* key, const char* space, int version, int dim, const double* query,
                       const char* records_json, char** out_json) {
    using namespace Pelmora;
    boundary::guarded("decode", [&] {
        const Pelmo codec = make_codec(key, space, version, dim);
        boundary::require(records_json != nullptr, "The argument records_json is null.");
        boundary::require(out_json != nullptr, "The argument out_json is null.");
        *out_json = decode_records(codec, records_json, query);
    });
}

PEL_EXPORT void free_output_buffer(char* buffer) {
    Pelmora::boundary::guarded("free_output_buffer", [&] { Pelmora::release_output_text(buffer); });
}

PEL_EXPORT const char* last_error_message(void) { return Pelmora::boundary::last_error(); }

}  // extern "C"
