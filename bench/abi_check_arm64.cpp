// Fails the build when include/pel_arm64.h and the signatures the benchmarks
// call through drift apart; nothing here is linked against the library.
#include <type_traits>

#include "library.h"
#include "pel_arm64.h"

namespace pel_bench {
static_assert(std::is_same_v<decltype(&::encode_vector), VectorFn>);
static_assert(std::is_same_v<decltype(&::decode_vector), VectorFn>);
static_assert(std::is_same_v<decltype(&::encode), EncodeRecordsFn>);
static_assert(std::is_same_v<decltype(&::decode), DecodeRecordsFn>);
static_assert(std::is_same_v<decltype(&::free_output_buffer), FreeBufferFn>);
static_assert(std::is_same_v<decltype(&::last_error_message), LastErrorFn>);
}  // namespace pel_bench
