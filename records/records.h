// Record codec: Pelmo::encode and Pelmo::decode (declared in transform/pelmo.h),
// Utils::calculate_similarity (transform/utils.h), and the nesting bound that
// every JSON text must pass before it is parsed.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
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

// A failure in the work on one record leaves Pelmo::encode and Pelmo::decode
// as itself, its type and message unchanged, and the record's index is kept
// beside it on the calling thread. This takes that index if `error` is the
// very exception it was kept for, and forgets it either way: a later or an
// unrelated failure never gets an index that is not its own.
std::optional<std::size_t> take_failed_record(const std::exception& error) noexcept;

}  // namespace Pelmora
