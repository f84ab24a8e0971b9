// Exact comparison helpers for tests that pin bit patterns.
#pragma once

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

namespace pel_test {

inline std::uint64_t bits(double value) {
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

inline double from_bits(std::uint64_t b) {
    double value;
    std::memcpy(&value, &b, sizeof value);
    return value;
}

// 17 significant digits and the bit pattern, for failure messages.
inline std::string show(double value) {
    std::ostringstream out;
    out << std::setprecision(17) << value << " (0x" << std::hex << std::uppercase << bits(value) << ")";
    return out.str();
}

}  // namespace pel_test

// Exact equality of two doubles, bit for bit (so -0.0 differs from +0.0).
#define EXPECT_SAME_BITS(expected, actual) \
    EXPECT_EQ(pel_test::bits(expected), pel_test::bits(actual)) \
        << "expected " << pel_test::show(expected) << ", got " << pel_test::show(actual)
