// Exported functions of libpel_arm64.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "interface/guard.h"
#include "pel_arm64.h"
#include "records/one_pass.h"
#include "records/output_text.h"
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

// Runs the record codec. A failure in the work on one record reaches the host
// as "Record at index N: " (or, in a set given as an object, "Record "key" of
// the record set, an object: ") followed by its own text; every other failure
// as it is.
template <class Work>
nlohmann::json on_records(Work&& work) {
    try {
        return work();
    } catch (const std::exception& e) {
        if (const auto place = take_failed_record(e)) {
            throw std::runtime_error(place->describe() + ": " + e.what());
        }
        throw;
    }
}

// A text that does not parse is reported on its own line, as hosts of this
// library expect, and then fails the call: an empty result would look like an
// empty record set.
nlohmann::json parse_records_to_encode(const char* text) {
    require_json_depth(std::string_view(text), "The record set");
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        boundary::write_and_fail(std::string("Error parsing JSON data: ") + e.what());
    }
}

// Parses the caller's text where it lies.
nlohmann::json parse_records_to_decode(const char* text) {
    require_json_depth(std::string_view(text), "The record set");
    return nlohmann::json::parse(text);
}

// The compact dump in a new array of length + 1 chars; the caller owns it and
// returns it through free_output_buffer. The document is released as soon as
// it is dumped, so at most two copies of the text are alive at once.
char* to_output_buffer(nlohmann::json result) {
    const std::string text = result.dump();
    result = nullptr;
    return to_output_text(text);
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
        if (auto text = encode_in_one_pass(codec, records_json)) {
            *out_json = text->release();
            return;
        }
        // The caller's text is only read, so it is parsed where it lies; the
        // parsed records are gone before the result is dumped.
        nlohmann::json result =
            on_records([&] { return codec.encode(parse_records_to_encode(records_json)); });
        *out_json = to_output_buffer(std::move(result));
    });
}

PEL_EXPORT void decode(const char* key, const char* space, int version, int dim, const double* query,
                       const char* records_json, char** out_json) {
    using namespace Pelmora;
    boundary::guarded("decode", [&] {
        const Pelmo codec = make_codec(key, space, version, dim);
        boundary::require(records_json != nullptr, "The argument records_json is null.");
        boundary::require(out_json != nullptr, "The argument out_json is null.");
        if (auto text = decode_in_one_pass(codec, records_json, query)) {
            *out_json = text->release();
            return;
        }
        nlohmann::json result;
        {
            const nlohmann::json records = parse_records_to_decode(records_json);
            boundary::require(query != nullptr, "The argument query is null.");
            // No record, no score: an empty set never reads the query.
            const Vector q = records.empty() ? Vector() : copy_in(query, dim, "query");
            result = on_records([&] { return codec.decode(records, q); });
        }
        *out_json = to_output_buffer(std::move(result));
    });
}

PEL_EXPORT void free_output_buffer(char* buffer) {
    Pelmora::boundary::guarded("free_output_buffer", [&] { Pelmora::release_output_text(buffer); });
}

PEL_EXPORT const char* last_error_message(void) { return Pelmora::boundary::last_error(); }

}  // extern "C"
