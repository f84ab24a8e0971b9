// The record-set calls behind the exported encode and decode.
#include "interface/record_routes.h"

#include <stdexcept>
#include <string>
#include <string_view>

#include "interface/guard.h"
#include "records/json.h"
#include "records/one_pass.h"
#include "records/output_text.h"
#include "records/records.h"

namespace Pelmora {
namespace {

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

char* encode_records(const Pelmo& codec, const char* text) {
    if (auto out = encode_in_one_pass(codec, text)) {
        return out->release();
    }
    return encode_by_document(codec, text);
}

char* decode_records(const Pelmo& codec, const char* text, const double* query) {
    if (auto out = decode_in_one_pass(codec, text, query)) {
        return out->release();
    }
    return decode_by_document(codec, text, query);
}

char* encode_by_document(const Pelmo& codec, const char* text) {
    // The caller's text is only read, so it is parsed where it lies; the
    // parsed records are gone before the result is dumped.
    nlohmann::json result = on_records([&] { return codec.encode(parse_records_to_encode(text)); });
    return to_output_buffer(std::move(result));
}

char* decode_by_document(const Pelmo& codec, const char* text, const double* query) {
    nlohmann::json result;
    {
        const nlohmann::json records = parse_records_to_decode(text);
        boundary::require(query != nullptr, "The argument query is null.");
        // No record, no score: an empty set never reads the query.
        const Vector q = records.empty() ? Vector() : Vector(Eigen::Map<const Vector>(query, codec.dim()));
        result = on_records([&] { return codec.decode(records, q); });
    }
    return to_output_buffer(std::move(result));
}

}  // namespace Pelmora
