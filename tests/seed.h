// The seed of a test's random cases.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace pel_test {

// `fallback`, or PEL_TEST_SEED when set; printed, so that any failure can be
// replayed.
inline std::uint64_t test_seed(std::uint64_t fallback) {
    const char* text = std::getenv("PEL_TEST_SEED");
    const std::uint64_t seed = text != nullptr ? std::strtoull(text, nullptr, 10) : fallback;
    std::cout << "random cases from seed " << seed << " (PEL_TEST_SEED=" << seed << " replays them)\n";
    return seed;
}

}  // namespace pel_test
