// The two engines behind KeySchedule, and the key expansion they share. Private
// to sealing/.
#pragma once

#include <cstdint>

#include "sealing/aes.h"

namespace plusaes::detail {

// expand_key into a caller's array of get_round_count(key_size) + 1 States;
// key_size already checked.
void expand_key_into(const unsigned char* key, int key_size, State* round_keys);

// Portable engine: round keys as bit planes, eight words per round key; writes
// 2 * (rounds + 1) of them, those of encryption, then those of decryption.
void portable_prepare(const State* round_keys, int rounds, std::uint64_t (*planes)[8]);
void portable_encrypt(const std::uint64_t (*planes)[8], int rounds, const unsigned char* in, unsigned char* out);
void portable_decrypt(const std::uint64_t (*planes)[8], int rounds, const unsigned char* in, unsigned char* out);

// Hardware engine; hardware_supported() is false wherever the build has none.
bool hardware_supported();
const char* hardware_name();
// Writes 2 * (rounds + 1) blocks: the encryption round keys, then the
// decryption round keys of the equivalent inverse cipher.
void hardware_prepare(const State* round_keys, int rounds, unsigned char (*blocks)[16]);
void hardware_encrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in, unsigned char* out);
void hardware_decrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in, unsigned char* out);

}  // namespace plusaes::detail
