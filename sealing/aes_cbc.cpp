#include "sealing/aes_cbc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include "key/key.h"
#include "sealing/aes.h"
#include "sealing/codecs.h"

namespace plusaes {
namespace detail {

const unsigned char kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

const unsigned char kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

namespace {

std::uint32_t load_word(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void store_word(std::uint32_t word, unsigned char* bytes) {
    for (int row = 0; row < 4; ++row) {
        bytes[row] = static_cast<unsigned char>(word >> (8 * row));
    }
}

unsigned char row_byte(std::uint32_t word, int row) {
    return static_cast<unsigned char>(word >> (8 * row));
}

std::uint32_t pack_column(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3) {
    return static_cast<std::uint32_t>(b0) | static_cast<std::uint32_t>(b1) << 8 |
           static_cast<std::uint32_t>(b2) << 16 | static_cast<std::uint32_t>(b3) << 24;
}

std::uint32_t substitute(std::uint32_t word, const unsigned char* table) {
    return pack_column(table[row_byte(word, 0)], table[row_byte(word, 1)], table[row_byte(word, 2)],
                       table[row_byte(word, 3)]);
}

const unsigned char* block_at(const unsigned char* base, std::uint64_t block) {
    return base + static_cast<std::size_t>(16 * block);
}

unsigned char* block_at(unsigned char* base, std::uint64_t block) {
    return base + static_cast<std::size_t>(16 * block);
}

}  // namespace

unsigned char mul2(unsigned char x) {
    // Bit 8 of the shifted value falls off in the cast, so XOR 0x1B is XOR 0x11B.
    return static_cast<unsigned char>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

unsigned char mul(unsigned char a, unsigned char b) {
    unsigned char product = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (((b >> bit) & 1) != 0) {
            product = static_cast<unsigned char>(product ^ a);
        }
        a = mul2(a);
    }
    return product;
}

std::uint32_t sub_word(std::uint32_t word) {
    return substitute(word, kSbox);
}

std::uint32_t inv_sub_word(std::uint32_t word) {
    return substitute(word, kInvSbox);
}

std::uint32_t rot_word(std::uint32_t word) {
    return (word >> 8) | (word << 24);
}

bool is_valid_key_size(std::uint64_t size) {
    return size == 16 || size == 24 || size == 32;
}

int get_round_count(int key_size) {
    switch (key_size) {
        case 16:
            return 10;
        case 24:
            return 12;
        case 32:
            return 14;
        default:
            throw std::invalid_argument("Invalid key size");
    }
}

std::vector<State> expand_key(const unsigned char* key, int key_size) {
    // Rcon[i] = x^(i-1) in row 0; entry 0 is never read.
    static constexpr std::uint32_t kRoundConstants[11] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10,
                                                          0x20, 0x40, 0x80, 0x1B, 0x36};
    const int rounds = get_round_count(key_size);
    const int key_words = key_size / 4;
    const int total_words = 4 * (rounds + 1);

    std::vector<State> round_keys(static_cast<std::size_t>(rounds + 1));
    auto word = [&round_keys](int i) -> std::uint32_t& { return round_keys[static_cast<std::size_t>(i / 4)][i % 4]; };

    for (int i = 0; i < key_words; ++i) {
        word(i) = load_word(key + 4 * i);
    }
    for (int i = key_words; i < total_words; ++i) {
        std::uint32_t temp = word(i - 1);
        if (i % key_words == 0) {
            temp = sub_word(rot_word(temp)) ^ kRoundConstants[i / key_words];
        } else if (key_words > 6 && i % key_words == 4) {
            temp = sub_word(temp);
        }
        word(i) = word(i - key_words) ^ temp;
    }
    return round_keys;
}

void copy_bytes_to_state(const unsigned char* data, State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = load_word(data + 4 * column);
    }
}

void copy_state_to_bytes(const State& state, unsigned char* data) {
    for (int column = 0; column < 4; ++column) {
        store_word(state[column], data + 4 * column);
    }
}

void add_round_key(const State& round_key, State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] ^= round_key[column];
    }
}

void sub_bytes(State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = sub_word(state[column]);
    }
}

void inv_sub_bytes(State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = inv_sub_word(state[column]);
    }
}

void shift_rows(State& state) {
    const State copy = state;
    for (int row = 1; row < 4; ++row) {
        const std::uint32_t lane = 0xFFu << (8 * row);
        for (int column = 0; column < 4; ++column) {
            state[column] = (state[column] & ~lane) | (copy[(column + row) % 4] & lane);
        }
    }
}

void inv_shift_rows(State& state) {
    const State copy = state;
    for (int row = 1; row < 4; ++row) {
        const std::uint32_t lane = 0xFFu << (8 * row);
        for (int column = 0; column < 4; ++column) {
            state[column] = (state[column] & ~lane) | (copy[(column - row + 4) % 4] & lane);
        }
    }
}

void mix_columns(State& state) {
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = state[column];
        const unsigned char b0 = row_byte(word, 0);
        const unsigned char b1 = row_byte(word, 1);
        const unsigned char b2 = row_byte(word, 2);
        const unsigned char b3 = row_byte(word, 3);
        const unsigned char d0 = mul2(b0);
        const unsigned char d1 = mul2(b1);
        const unsigned char d2 = mul2(b2);
        const unsigned char d3 = mul2(b3);
        state[column] = pack_column(static_cast<unsigned char>(d0 ^ (d1 ^ b1) ^ b2 ^ b3),
                                    static_cast<unsigned char>(b0 ^ d1 ^ (d2 ^ b2) ^ b3),
                                    static_cast<unsigned char>(b0 ^ b1 ^ d2 ^ (d3 ^ b3)),
                                    static_cast<unsigned char>((d0 ^ b0) ^ b1 ^ b2 ^ d3));
    }
}

void inv_mix_columns(State& state) {
    // Products by 09, 0B, 0D and 0E from three doublings of each byte.
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = state[column];
        unsigned char x9[4], xb[4], xd[4], xe[4];
        for (int row = 0; row < 4; ++row) {
            const unsigned char b = row_byte(word, row);
            const unsigned char b2 = mul2(b);
            const unsigned char b4 = mul2(b2);
            const unsigned char b8 = mul2(b4);
            x9[row] = static_cast<unsigned char>(b8 ^ b);
            xb[row] = static_cast<unsigned char>(b8 ^ b2 ^ b);
            xd[row] = static_cast<unsigned char>(b8 ^ b4 ^ b);
            xe[row] = static_cast<unsigned char>(b8 ^ b4 ^ b2);
        }
        state[column] = pack_column(static_cast<unsigned char>(xe[0] ^ xb[1] ^ xd[2] ^ x9[3]),
                                    static_cast<unsigned char>(x9[0] ^ xe[1] ^ xb[2] ^ xd[3]),
                                    static_cast<unsigned char>(xd[0] ^ x9[1] ^ xe[2] ^ xb[3]),
                                    static_cast<unsigned char>(xb[0] ^ xd[1] ^ x9[2] ^ xe[3]));
    }
}

void encrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out) {
    const std::size_t last = round_keys.size() - 1;
    State state;
    copy_bytes_to_state(in, state);
    add_round_key(round_keys[0], state);
    for (std::size_t round = 1; round < last; ++round) {
        sub_bytes(state);
        shift_rows(state);
        mix_columns(state);
        add_round_key(round_keys[round], state);
    }
    sub_bytes(state);
    shift_rows(state);
    add_round_key(round_keys[last], state);
    copy_state_to_bytes(state, out);
}

void decrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out) {
    const std::size_t last = round_keys.size() - 1;
    State state;
    copy_bytes_to_state(in, state);
    add_round_key(round_keys[last], state);
    inv_shift_rows(state);
    inv_sub_bytes(state);
    for (std::size_t round = last - 1; round >= 1; --round) {
        add_round_key(round_keys[round], state);
        inv_mix_columns(state);
        inv_shift_rows(state);
        inv_sub_bytes(state);
    }
    add_round_key(round_keys[0], state);
    copy_state_to_bytes(state, out);
}

void xor_data(unsigned char* dst, const unsigned char* src) {
    for (int i = 0; i < 16; ++i) {
        dst[i] = static_cast<unsigned char>(dst[i] ^ src[i]);
    }
}

int check_encrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t encrypted_size,
                       bool pads) {
    if (!pads && data_size % 16 != 0) {
        return status_bad_data_size;
    }
    if (!is_valid_key_size(key_size)) {
        return status_bad_key_size;
    }
    const std::uint64_t needed = pads ? get_padded_encrypted_size(data_size) : data_size;
    if (encrypted_size < needed) {
        return status_bad_buffer_size;
    }
    return status_ok;
}

int check_decrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t decrypted_size,
                       const std::uint64_t* pad_count) {
    if (data_size % 16 != 0) {
        return status_bad_data_size;
    }
    if (!is_valid_key_size(key_size)) {
        return status_bad_key_size;
    }
    // Padded: room for the shortest possible plaintext (a last block of pure
    // padding). The subtraction wraps for an empty input, which therefore fails.
    const std::uint64_t needed = pad_count != nullptr ? data_size - 16 : data_size;
    if (decrypted_size < needed) {
        return status_bad_buffer_size;
    }
    return status_ok;
}

bool check_padding(std::uint64_t pad_count, const unsigned char* last_block) {
    if (pad_count < 1 || pad_count > 16) {
        return false;
    }
    for (std::uint64_t i = 16 - pad_count; i < 16; ++i) {
        if (last_block[i] != pad_count) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

std::uint64_t get_padded_encrypted_size(std::uint64_t data_size) {
    return data_size - data_size % 16 + 16;
}

int encrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* encrypted,
                std::uint64_t encrypted_size, bool pads) {
    const int status = detail::check_encrypt_cond(data_size, key_size, encrypted_size, pads);
    if (status != status_ok) {
        return status;
    }
    if (data_size == 0 && !pads) {
        return status_ok;
    }
    const std::vector<detail::State> round_keys = detail::expand_key(key, static_cast<int>(key_size));
    const std::uint64_t whole_blocks = data_size / 16;
    const std::size_t remainder = static_cast<std::size_t>(data_size % 16);
    const unsigned char pad = static_cast<unsigned char>(16 - remainder);

    unsigned char block[16];
    if (data_size >= 16) {
        std::copy_n(data, 16, block);
    } else {
        std::fill_n(block, 16, pad);
        std::copy_n(data, remainder, block);
    }
    if (iv != nullptr) {
        detail::xor_data(block, *iv);
    }
    detail::encrypt_state(round_keys, block, encrypted);

    for (std::uint64_t i = 1; i < whole_blocks; ++i) {
        std::copy_n(detail::block_at(data, i), 16, block);
        detail::xor_data(block, detail::block_at(encrypted, i - 1));
        detail::encrypt_state(round_keys, block, detail::block_at(encrypted, i));
    }

    if (pads && data_size >= 16) {
        std::fill_n(block, 16, pad);
        std::copy_n(detail::block_at(data, whole_blocks), remainder, block);
        detail::xor_data(block, detail::block_at(encrypted, whole_blocks - 1));
        detail::encrypt_state(round_keys, block, detail::block_at(encrypted, whole_blocks));
    }
    return status_ok;
}

int decrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* decrypted,
                std::uint64_t decrypted_size, std::uint64_t* pad_count) {
    const int status = detail::check_decrypt_cond(data_size, key_size, decrypted_size, pad_count);
    if (status != status_ok) {
        return status;
    }
    if (data_size == 0) {
        // Only reachable without a pad count: nothing to decrypt.
        return status_ok;
    }
    const std::vector<detail::State> round_keys = detail::expand_key(key, static_cast<int>(key_size));
    const std::uint64_t blocks = data_size / 16;

    for (std::uint64_t i = 0; i + 1 < blocks; ++i) {
        unsigned char* out = detail::block_at(decrypted, i);
        detail::decrypt_state(round_keys, detail::block_at(data, i), out);
        if (i > 0) {
            detail::xor_data(out, detail::block_at(data, i - 1));
        } else if (iv != nullptr) {
            detail::xor_data(out, *iv);
        }
    }

    unsigned char last[16];
    detail::decrypt_state(round_keys, detail::block_at(data, blocks - 1), last);
    if (blocks > 1) {
        detail::xor_data(last, detail::block_at(data, blocks - 2));
    } else {
        if (iv != nullptr) {
            detail::xor_data(last, *iv);
        }
        std::fill_n(decrypted, static_cast<std::size_t>(decrypted_size), static_cast<unsigned char>(0));
    }

    unsigned char* last_out = detail::block_at(decrypted, blocks - 1);
    if (pad_count == nullptr) {
        std::copy_n(last, 16, last_out);
        return status_ok;
    }
    const std::uint64_t pad = last[15];
    *pad_count = pad;
    if (!detail::check_padding(pad, last)) {
        return status_bad_padding;
    }
    if (decrypted_size < data_size - pad) {
        return status_bad_buffer_size;
    }
    std::copy_n(last, static_cast<std::size_t>(16 - pad), last_out);
    return status_ok;
}

}  // namespace plusaes

namespace Pelmora {

namespace {

constexpr std::size_t kIvSize = 16;

}  // namespace

AES_CBC::AES_CBC(const std::string& codec_key) : key_bytes(sealing::hex_decode(codec_key)) {
    if (!plusaes::detail::is_valid_key_size(key_bytes.size())) {
        throw std::runtime_error("Invalid key size. Must be 16, 24, or 32 bytes. " +
                                 key_size_note(codec_key, key_bytes.size()));
    }
}

void AES_CBC::init_iv() {
    // Every byte comes from the device itself. An engine seeded with one 32-bit
    // draw could produce only 2^32 IVs, and two seals would share an IV after
    // some tens of thousands of calls.
    if (!device_) {
        device_ = std::make_unique<std::random_device>("/dev/urandom");
    }
    std::random_device& device = *device_;
    static_assert(std::random_device::max() >= 0xFFFFFFFFu, "random_device must give 32-bit values");
    iv_bytes.assign(kIvSize, 0);
    for (std::size_t word = 0; word < kIvSize / 4; ++word) {
        const std::uint32_t value = static_cast<std::uint32_t>(device());
        for (std::size_t byte = 0; byte < 4; ++byte) {
            iv_bytes[4 * word + byte] = static_cast<unsigned char>(value >> (8 * byte));
        }
    }
}

std::string AES_CBC::encrypt(const std::string& plaintext) {
    if (!deflater_) {
        deflater_ = std::make_unique<Deflater>();
    }
    const std::vector<unsigned char> stream = deflater_->compress(plaintext);
    init_iv();
    unsigned char iv[kIvSize];
    std::copy_n(iv_bytes.begin(), kIvSize, iv);

    std::vector<unsigned char> ciphertext(plusaes::get_padded_encrypted_size(stream.size()), 0);
    const int status = plusaes::encrypt_cbc(stream.data(), stream.size(), key_bytes.data(), key_bytes.size(), &iv,
                                            ciphertext.data(), ciphertext.size(), true);
    if (status != plusaes::status_ok) {
        throw std::runtime_error("Encryption failed.");
    }
    return sealing::base64_encode(iv_bytes) + ":" + sealing::base64_encode(ciphertext);
}

std::string AES_CBC::decrypt(const std::string& sealed) {
    const std::size_t separator = sealed.find(':');
    iv_bytes = sealing::base64_decode(sealed.substr(0, separator));
    // Without a separator there is no ciphertext part, whatever the text decodes to.
    if (separator == std::string::npos || iv_bytes.size() != kIvSize) {
        throw std::runtime_error("Decryption failed.");
    }
    const std::vector<unsigned char> ciphertext = sealing::base64_decode(sealed.substr(separator + 1));
    unsigned char iv[kIvSize];
    std::copy_n(iv_bytes.begin(), kIvSize, iv);

    // The zero fill matters: the pad bytes are not written, so the stream is
    // followed by zeros, which the decompression ignores.
    std::vector<unsigned char> plain(ciphertext.size(), 0);
    std::uint64_t pad_count = 0;
    const int status = plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), key_bytes.data(), key_bytes.size(),
                                            &iv, plain.data(), plain.size(), &pad_count);
    if (status != plusaes::status_ok) {
        throw std::runtime_error("Decryption failed.");
    }
    if (!inflater_) {
        inflater_ = std::make_unique<Inflater>();
    }
    return inflater_->decompress(plain);
}

}  // namespace Pelmora
