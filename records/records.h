// Record codec: Pelmo::encode and Pelmo::decode (declared in transform/pelmo.h),
// Utils::calculate_similarity (transform/utils.h), the metric names, and the
// nesting bound that every JSON text must pass before it is parsed.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

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

// A failure in the work on one record leaves Pelmo::encode and Pelmo::decode
// as itself, its type and message unchanged, and the record's place is kept
// beside it on the calling thread. This takes that place if `error` is the
// very exception it was kept for, and forgets it either way: a later or an
// unrelated failure never gets a place that is not its own.
std::optional<RecordPlace> take_failed_record(const std::exception& error) noexcept;

}  // namespace Pelmora
