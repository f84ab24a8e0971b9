// The record-set calls of libpel_arm64 behind their exported functions: the
// one-pass route where it takes the text, else the document route.
#pragma once

#include "transform/pelmo.h"

namespace Pelmora {

// The encoded record set of `text` as a new output text for the host, or the
// failure the call reports. `text` is NUL-terminated.
char* encode_records(const Pelmo& codec, const char* text);
// The opened, ranked record set of `text` against the query (`dim` doubles,
// not read when the set has no records), or the failure the call reports.
char* decode_records(const Pelmo& codec, const char* text, const double* query);

// The same by the document route alone: the whole text parsed into one JSON
// document, the result built as another and dumped. The reference the
// one-pass route is held to, and the route of every text it declines.
char* encode_by_document(const Pelmo& codec, const char* text);
char* decode_by_document(const Pelmo& codec, const char* text, const double* query);

}  // namespace Pelmora
