// Record codec: the record-set calls of libpel_arm64 by their two routes;
// Pelmo::encode and Pelmo::decode (declared in transform/pelmo.h),
// Utils::calculate_similarity (transform/utils.h), the metric names, and the
// nesting bound that every JSON text must pass before it is parsed.
//
// A call reads a record set by one of two routes, which give the same bytes and
// the same failures:
// - the one-pass route reads a set given as an array straight from its text:
//   each "vector" straight into doubles, only "id", "filter" and "meta"
//   through the JSON library (and a whole record through it where its text has
//   another shape), the output written straight into the text handed back;
// - the document route parses the whole text into one JSON document, has
//   Pelmo::encode or Pelmo::decode work on it and dumps the result. It takes
//   every text the one-pass route does not, and is the reference the one-pass
//   route is held to.
// The one-pass route declines a text only for the shape of its start (a set
// that is not an array), before it has read any record, so no record is ever
// worked twice.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "records/output_text.h"
#include "transform/pelmo.h"

namespace Pelmora {

// Deepest nesting of arrays and objects accepted in any JSON text the library
// parses. The parser itself is iterative, but copying, dumping and destroying a
// JSON value recurse once per level; the bound keeps that recursion well within
// a small thread stack.
inline constexpr std::size_t kMaxJsonDepth = 1000;

// Throws std::invalid_argument naming `what` when `text` nests arrays and objects
// deeper than kMaxJsonDepth. Brackets inside strings do not count. Linear in the
// text and never recursive; it does not validate the text otherwise.
void require_json_depth(std::string_view text, std::string_view what);

// std::runtime_error "Invalid similarity metric." with the name given and the
// three names.
[[noreturn]] void fail_invalid_metric(const std::string& space);
// Throws that failure unless `space` is "COSINE", "L2" or "INNER_PRODUCT".
void require_metric(const std::string& space);

// Where a failing record stands in its set: the index in iteration order and,
// when the set is a JSON object, the member that holds the record.
struct RecordPlace {
    std::size_t index = 0;
    std::optional<std::string> member;

    // "Record at index 3", or "Record \"filter\" of the record set, an object".
    std::string describe() const;
};

// A failure in the work on one record, as a call reports it: the record's
// place, ": ", and the failure's own message, so that a user with a thousand
// records need not bisect to find the broken one. Exhausted memory and a
// failure of the system's random source are no record's fault and never
// become one.
class RecordFailure : public std::runtime_error {
public:
    RecordFailure(const RecordPlace& place, const char* message);
};

// The text given to encode does not parse. The message is the line the
// exported encode writes on its own: "Error parsing JSON data: " and the
// parser's message. (For decode the JSON library's exception passes as it is.)
class RecordSetNotParsed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The encoded record set of the NUL-terminated `text`, as a new output text
// for the host (release_output_text), by the one-pass route where it takes the
// text and else by the document route.
char* encode_records(const Pelmo& codec, const char* text);
// The opened, ranked record set of `text` against `query` (`dim` doubles, not
// read when the set has no records; null fails the call once the text parses).
char* decode_records(const Pelmo& codec, const char* text, const double* query);

// The document route alone.
char* encode_by_document(const Pelmo& codec, const char* text);
char* decode_by_document(const Pelmo& codec, const char* text, const double* query);

// What the one-pass route makes of a text: the output, or the reason it leaves
// the text to the document route. Every failure it meets, it throws itself,
// as the document route would.
struct OnePass {
    std::optional<OutputText> output;
    // Set when declined: what in the shape of the text's start it does not take.
    const char* declined = nullptr;
};
OnePass encode_in_one_pass(const Pelmo& codec, std::string_view text);
OnePass decode_in_one_pass(const Pelmo& codec, std::string_view text, const double* query);

// For tests that every record is worked once: in this process so far, how
// often the document route has run, and how often the work on a record has
// begun, by either route.
struct RouteCounts {
    unsigned long long document_runs = 0;
    unsigned long long records_worked = 0;
};
RouteCounts route_counts();

}  // namespace Pelmora
