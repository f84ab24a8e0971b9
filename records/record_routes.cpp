// The record-set calls: the one-pass route where it takes the text, else the
// document route; and the text checks both report first.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "records/document.h"
#include "records/json.h"
#include "records/output_text.h"
#include "records/records.h"
#include "records/session.h"

namespace Pelmora {
namespace {

using nlohmann::json;

// Accepts every value: the parser alone decides whether the text is JSON.
struct Validator {
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(json::number_integer_t) { return true; }
    bool number_unsigned(json::number_unsigned_t) { return true; }
    bool number_float(json::number_float_t, const json::string_t&) { return true; }
    bool string(json::string_t&) { return true; }
    bool binary(json::binary_t&) { return true; }
    bool start_object(std::size_t) { return true; }
    bool key(json::string_t&) { return true; }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    // The exception nlohmann::json::parse would throw, of its own type.
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        throw error;
    }
};

// Runs `read`, a parse of the record-set text. For encode, a text that does
// not parse is reported as the line hosts of this library expect: an empty
// result would look like an empty record set.
template <class Read>
auto reading(Call call, Read&& read) -> decltype(read()) {
    if (call == Call::decode) {
        return read();
    }
    try {
        return read();
    } catch (const json::exception& e) {
        throw RecordSetNotParsed(std::string("Error parsing JSON data: ") + e.what());
    }
}

Document parse_record_set(const char* text, Call call) {
    require_json_depth(text, "The record set");
    return reading(call, [&] { return parse_document(text); });
}

// The compact dump in an output text of length + 1 chars; the document is
// released as soon as it is dumped, so at most two copies of the text are
// alive at once.
char* to_output(Document result) {
    const std::string text = result->dump();
    release(*result);
    return to_output_text(text);
}

// Reports a failure of the work on a set as the host sees it: with the place
// of the record whose fault it is.
template <class Work>
json placing_failures(Work&& work) {
    std::optional<RecordPlace> failed;
    try {
        return work(failed);
    } catch (const std::exception& e) {
        if (failed) {
            throw RecordFailure(*failed, e.what());
        }
        throw;
    }
}

}  // namespace

void check_record_set_text(std::string_view text, Call call) {
    require_json_depth(text, "The record set");
    reading(call, [&] {
        Validator validator;
        json::sax_parse(text, &validator);
    });
}

char* encode_records(const Pelmo& codec, const char* text) {
    OnePass one_pass = encode_in_one_pass(codec, text);
    if (one_pass.output) {
        return one_pass.output->release();
    }
    return encode_by_document(codec, text);
}

char* decode_records(const Pelmo& codec, const char* text, const double* query) {
    OnePass one_pass = decode_in_one_pass(codec, text, query);
    if (one_pass.output) {
        return one_pass.output->release();
    }
    return decode_by_document(codec, text, query);
}

char* encode_by_document(const Pelmo& codec, const char* text) {
    count_document_run();
    Document result;
    {
        const Document records = parse_record_set(text, Call::encode);
        *result = placing_failures([&](std::optional<RecordPlace>& failed) {
            return encode_set(codec, *records, failed);
        });
    }
    return to_output(std::move(result));
}

char* decode_by_document(const Pelmo& codec, const char* text, const double* query) {
    count_document_run();
    Document result;
    {
        const Document records = parse_record_set(text, Call::decode);
        if (query == nullptr) {
            throw std::invalid_argument("The argument query is null.");
        }
        // No record, no score: an empty set never reads the query.
        const Vector q = records->empty() ? Vector() : Vector(Eigen::Map<const Vector>(query, codec.dim()));
        *result = placing_failures([&](std::optional<RecordPlace>& failed) {
            return decode_set(codec, *records, q, failed);
        });
    }
    return to_output(std::move(result));
}

}  // namespace Pelmora
