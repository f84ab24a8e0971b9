// The arguments of one routes-target input, shared by the target and the seed
// generator.
//
//   byte 0: bit 0 the call (0 encode, 1 decode), bit 1 the version (1, 2),
//           bits 2-3 the metric name, bits 4-5 the key
//   byte 1: the dimension, 1 + byte % 6
//   then:   the record-set text, up to its first NUL
//
// Decode scores against fixed doubles (kRoutesQuery), so every byte after the
// header is text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"

namespace pel_fuzz {

// Two keys with the same bytes (upper and lower case), so a set sealed under
// one opens under the other; an AES-256 key; and 20 digits, too few bytes for
// the cipher.
inline const char* const kRoutesKeys[4] = {
    "7e41c09b2d5fa38816cb0e4f9a27d563",
    "7E41C09B2D5FA38816CB0E4F9A27D563",
    "c0ffee1234567890abcdef0fedcba98765432100112233445566778899aabbcc",
    "7e41c09b2d5fa38816cb",
};

// The three metric names and one the codec refuses.
inline const char* const kRoutesSpaces[4] = {"COSINE", "L2", "INNER_PRODUCT", "cosine"};

inline constexpr int kRoutesMaxDim = 6;
inline constexpr double kRoutesQuery[kRoutesMaxDim] = {0.5, -1.25, 2.0, 0.75, -3.0, 1.5};

struct RoutesCall {
    bool decode;
    int version;
    int space_index;
    int key_index;
    int dim;
};

inline RoutesCall read_routes_call(ByteReader& in) {
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    return {(a & 1) != 0, 1 + ((a >> 1) & 1), (a >> 2) & 3, (a >> 4) & 3, 1 + b % kRoutesMaxDim};
}

// The inverse of read_routes_call, for the seed generator.
inline std::string routes_call_header(const RoutesCall& call) {
    std::string h(2, '\0');
    h[0] = static_cast<char>((call.decode ? 1 : 0) | ((call.version - 1) & 1) << 1 | (call.space_index & 3) << 2 |
                             (call.key_index & 3) << 4);
    h[1] = static_cast<char>((call.dim - 1) % kRoutesMaxDim);
    return h;
}

}  // namespace pel_fuzz
