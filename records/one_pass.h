// Record sets in one pass over their text, without a document of the whole set.
//
// The route takes the shape hosts send: an array of objects, members in any
// order (the last of a repeated member counts), further members skipped, the
// vectors plain JSON numbers. Each "vector" is read straight into doubles;
// only "id", "filter" and "meta", which are small, go to the JSON library; the
// output is written straight into the text handed to the host, byte for byte
// what the document of the result would dump.
//
// Anything else, and every failure, is declined: the call then takes the
// document route, which stays the reference and reports the failure with its
// exact message (a parse error names its position in the whole text). The
// route therefore never fails and never writes to stderr.
#pragma once

#include <optional>
#include <string_view>

#include "records/output_text.h"
#include "transform/pelmo.h"

namespace Pelmora {

// Pelmo::encode of the record set in `text`, dumped; empty when declined.
std::optional<OutputText> encode_in_one_pass(const Pelmo& codec, std::string_view text);

// Pelmo::decode of the record set in `text` against the `dim` doubles of
// `query`, dumped; empty when declined.
std::optional<OutputText> decode_in_one_pass(const Pelmo& codec, std::string_view text, const double* query);

}  // namespace Pelmora
