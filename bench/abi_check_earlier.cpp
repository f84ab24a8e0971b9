// Fails the build when include/pel_earlier.h and the signatures the benchmarks
// call through drift apart; nothing here is linked against the libraries.
#include <type_traits>

#include "library.h"
#include "pel_earlier.h"

namespace pel_bench {
static_assert(std::is_same_v<decltype(&::encode), EarlierVectorFn>);
static_assert(std::is_same_v<decltype(&::decode), EarlierVectorFn>);
static_assert(std::is_same_v<decltype(&::last_error_message), LastErrorFn>);
}  // namespace pel_bench
