// AES (FIPS-197) for 16-, 24- and 32-byte keys, and CBC mode (SP 800-38A)
// with optional PKCS#7 padding over byte buffers.
//
// Block layout: byte 4c + r of a block is row r of column c. A State holds the
// four columns as words, little-endian: row 0 is the least significant byte of
// each word, whatever the host's byte order.
//
// Nothing here indexes a table with, or branches on, a byte of the key or the
// data: the host's key lives as long as its data, and timing must not leak it.
// The one exception is the padding check of decrypt_cbc, whose outcome is the
// status itself.
#pragma once

#include <cstdint>
#include <vector>

namespace plusaes {

// Outcome of encrypt_cbc / decrypt_cbc.
constexpr int status_ok = 0;
constexpr int status_bad_data_size = 1;    // whole blocks required and not given
constexpr int status_bad_key_size = 2;     // key is not 16, 24 or 32 bytes
constexpr int status_bad_buffer_size = 3;  // output too small
constexpr int status_bad_padding = 4;      // last block has no valid PKCS#7 padding

namespace detail {

struct State {
    std::uint32_t words[4];

    // No range check: index must be 0 to 3.
    std::uint32_t& operator[](int index) { return words[index]; }
    const std::uint32_t& operator[](int index) const { return words[index]; }
};

// Doubling and product in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
unsigned char mul2(unsigned char x);
unsigned char mul(unsigned char a, unsigned char b);

std::uint32_t sub_word(std::uint32_t word);
std::uint32_t inv_sub_word(std::uint32_t word);
// Bytes a0 a1 a2 a3 (least significant first) become a1 a2 a3 a0.
std::uint32_t rot_word(std::uint32_t word);

bool is_valid_key_size(std::uint64_t size);
// 10, 12 or 14; std::invalid_argument "Invalid key size" for any other length.
int get_round_count(int key_size);

// One State per round key, round 0 first (11, 13 or 15 of them). Throws
// std::invalid_argument "Invalid key size" before reading the key when
// key_size is not 16, 24 or 32.
std::vector<State> expand_key(const unsigned char* key, int key_size);

void copy_bytes_to_state(const unsigned char* data, State& state);
void copy_state_to_bytes(const State& state, unsigned char* data);
void add_round_key(const State& round_key, State& state);
void sub_bytes(State& state);
void inv_sub_bytes(State& state);
void shift_rows(State& state);
void inv_shift_rows(State& state);
void mix_columns(State& state);
void inv_mix_columns(State& state);

// One 16-byte block each way, one step at a time: the plain route the engines
// below are held to. `in` and `out` may be the same bytes. The round-key
// sequence must come from expand_key.
void encrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out);
void decrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out);

// How KeySchedule runs the cipher. portable is plain C++ (a bitsliced S-box);
// hardware is AES-NI on x86-64 or the Armv8 AES instructions on aarch64, where
// the build has it (PEL_HARDWARE_AES) and the CPU has the instructions.
enum class Engine { portable, hardware };

bool engine_available(Engine engine);
// The engine every KeySchedule uses unless told otherwise: the hardware where
// available, chosen once, when the library is loaded.
Engine selected_engine();
// "portable (bitsliced)", "AES-NI", "Armv8 AES", or "hardware (not built)".
const char* engine_name(Engine engine);

// The round keys of one key, expanded once, in the form its engine uses, and
// wiped when the schedule goes. key_size must be 16, 24 or 32 (otherwise
// std::invalid_argument "Invalid key size" before the key is read); an engine
// that is not available falls back to the portable one.
class KeySchedule {
public:
    KeySchedule(const unsigned char* key, int key_size, Engine engine = selected_engine());
    ~KeySchedule();
    KeySchedule(const KeySchedule&) = delete;
    KeySchedule& operator=(const KeySchedule&) = delete;

    Engine engine() const { return engine_; }
    int key_size() const { return key_size_; }

    // One 16-byte block each way; `in` and `out` may be the same bytes.
    void encrypt_block(const unsigned char* in, unsigned char* out) const;
    void decrypt_block(const unsigned char* in, unsigned char* out) const;

private:
    static constexpr int kMaxRoundKeys = 15;

    Engine engine_;
    int key_size_;
    int rounds_;
    // hardware: the encryption round keys as 16-byte blocks, then those of the
    // equivalent inverse cipher, which the decryption instructions expect.
    // portable: each round key as eight bit planes (see aes_portable.cpp), for
    // encryption, then for decryption.
    union {
        alignas(16) unsigned char blocks[2 * kMaxRoundKeys][16];
        std::uint64_t planes[2 * kMaxRoundKeys][8];
    } keys_;
};

// encrypt_cbc and decrypt_cbc below under an expanded key, with the same
// argument checks, results and statuses; the key size checked is the schedule's.
int encrypt_cbc(const KeySchedule& keys, const unsigned char* data, std::uint64_t data_size,
                const unsigned char (*iv)[16], unsigned char* encrypted, std::uint64_t encrypted_size, bool pads);
int decrypt_cbc(const KeySchedule& keys, const unsigned char* data, std::uint64_t data_size,
                const unsigned char (*iv)[16], unsigned char* decrypted, std::uint64_t decrypted_size,
                std::uint64_t* pad_count);

// dst[i] ^= src[i] for the 16 bytes of a block.
void xor_data(unsigned char* dst, const unsigned char* src);

int check_encrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t encrypted_size,
                       bool pads);
// Only whether pad_count is null matters.
int check_decrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t decrypted_size,
                       const std::uint64_t* pad_count);
// True exactly when 1 <= pad_count <= 16 and the last pad_count bytes of the
// 16-byte block all equal pad_count.
bool check_padding(std::uint64_t pad_count, const unsigned char* last_block);

}  // namespace detail

// data_size rounded down to whole blocks, plus one block.
std::uint64_t get_padded_encrypted_size(std::uint64_t data_size);

// CBC encryption of data_size bytes. With pads, writes the PKCS#7-padded
// ciphertext (get_padded_encrypted_size bytes); without, data_size must be a
// multiple of 16 and that many bytes are written. A null iv means sixteen zero
// bytes. Bytes of `encrypted` past the ciphertext are not touched; on a
// non-zero status nothing is written.
int encrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* encrypted,
                std::uint64_t encrypted_size, bool pads);

// CBC decryption of data_size bytes (a multiple of 16) into `decrypted`, which
// must not overlap `data`. A non-null pad_count declares the data padded: the
// padding is checked, not copied, and its length stored through pad_count.
// A null pad_count decrypts all data_size bytes. A one-block decryption clears
// the whole of `decrypted` first. On status 1 to 3 from the argument checks
// nothing is written, not even the pad count.
int decrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* decrypted,
                std::uint64_t decrypted_size, std::uint64_t* pad_count);

}  // namespace plusaes
