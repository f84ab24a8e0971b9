// The one way this project includes the JSON library.
#pragma once

#ifdef INCLUDE_NLOHMANN_JSON_HPP_
#error "records/json.h must come before any other include of <nlohmann/json.hpp>"
#endif

// The library checks its own invariants and the preconditions of its calls with
// JSON_ASSERT, which is assert() by default and so, with NDEBUG kept out of
// every build for Eigen's checks, would abort the host's process. Throwing
// instead would not help: several of the checks sit in noexcept functions (the
// invariant check of every value, the number formatter), where a throw ends the
// process just as abort does. Faults of the input never reach them; the
// library reports those with its exceptions, which the exported functions pass
// on as failed calls. So the shipped libraries compile the checks out, and the
// checking builds (sanitizers, fuzzers) keep them as assertions, so that a test
// or a fuzzer that reached one would stop there.
#if !PEL_DEPENDENCY_ASSERTIONS
#define JSON_ASSERT(x) static_cast<void>(0)
#endif

#include <nlohmann/json.hpp>
