// Record codec: Pelmo::encode and Pelmo::decode (declared in transform/pelmo.h),
// Utils::calculate_similarity (transform/utils.h), and the nesting bound that
// every JSON text must pass before it is parsed.
#pragma once

#include <cstddef>
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

}  // namespace Pelmora
