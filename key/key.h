// Reading the codec key: the four key fields of the transform, the digit pairs
// of the cipher key, and the words their failures use to name what the key
// holds. Neither the linear algebra nor the cipher is needed for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Pelmora {

// Key field f (0: noise, 1: scale, 2: shear, 3: rotation) is characters 4f to
// 4f+3 of the key (fewer at its end), read as parse_key_digits does. Throws
// std::out_of_range when the field starts beyond the end of the key,
// std::invalid_argument when it starts exactly at the end or holds no
// hexadecimal digit. The messages say which characters are at fault.
int parse_key_field(const std::string& key, int field);

// Up to `count` characters of the key from `first` (< key.size()), read by
// std::stoi in base 16: leading blanks, a sign, a 0x prefix and trailing junk
// are accepted, as keys always were. Throws std::invalid_argument naming the
// characters when they hold no hexadecimal digit.
int parse_key_digits(const std::string& key, std::size_t first, std::size_t count);

// The generator seed of a key-field value: sign-extended to 64 bits.
inline std::uint64_t key_seed(int field_value) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(field_value));
}

// What follows the cipher's refusal of a key whose digit pairs gave `bytes`
// bytes: "The key has 40 characters (20 bytes); use 32, 48 or 64 hexadecimal
// digits." Characters, not digits: a blank, a sign or a 0x prefix is read
// within its pair but is no digit.
std::string key_size_note(const std::string& key, std::size_t bytes);

// The text between double quotes, escaped so that a message stays one
// printable line whatever bytes the host passed (a key, a metric name).
std::string quoted(const std::string& text);

}  // namespace Pelmora
