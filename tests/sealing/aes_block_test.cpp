#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/aes.h"
#include "sealing/support.h"

namespace {

using plusaes::detail::State;
using sealing_test::Bytes;
using sealing_test::from_hex;
using sealing_test::to_hex;

// FIPS-197 Figure 7 (S-box) and Figure 14 (inverse S-box): the reference the
// computed substitution is held to.
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

std::vector<State> expand(const Bytes& key) {
    return plusaes::detail::expand_key(key.data(), static_cast<int>(key.size()));
}

// A word as FIPS-197 lists it (first byte most significant) in this library's
// little-endian column layout.
std::uint32_t from_listing(std::uint32_t listed) {
    return (listed >> 24) | ((listed >> 8) & 0x0000FF00u) | ((listed << 8) & 0x00FF0000u) | (listed << 24);
}

State random_state(std::mt19937& engine) {
    State state{};
    for (int i = 0; i < 4; ++i) {
        state[i] = static_cast<std::uint32_t>(engine());
    }
    return state;
}

bool same(const State& a, const State& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

State state_of(const std::string& hex) {
    State state{};
    plusaes::detail::copy_bytes_to_state(from_hex(hex).data(), state);
    return state;
}

std::string hex_of(const State& state) {
    Bytes bytes(16);
    plusaes::detail::copy_state_to_bytes(state, bytes.data());
    return to_hex(bytes);
}

struct BlockVector {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

const BlockVector kFips197Examples[] = {
    // FIPS-197 C.1
    {"AES-128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    // FIPS-197 C.2
    {"AES-192", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    // FIPS-197 C.3
    {"AES-256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(SealingAesBlock, Fips197ExampleVectors) {
    for (const BlockVector& v : kFips197Examples) {
        SCOPED_TRACE(v.name);
        const std::vector<State> round_keys = expand(from_hex(v.key));
        const Bytes plaintext = from_hex(v.plaintext);

        Bytes encrypted(16, 0xAA);
        plusaes::detail::encrypt_state(round_keys, plaintext.data(), encrypted.data());
        EXPECT_EQ(to_hex(encrypted), v.ciphertext);

        Bytes decrypted(16, 0xAA);
        plusaes::detail::decrypt_state(round_keys, encrypted.data(), decrypted.data());
        EXPECT_EQ(to_hex(decrypted), v.plaintext);

        // Same bytes as input and output.
        Bytes block = plaintext;
        plusaes::detail::encrypt_state(round_keys, block.data(), block.data());
        EXPECT_EQ(to_hex(block), v.ciphertext);
        plusaes::detail::decrypt_state(round_keys, block.data(), block.data());
        EXPECT_EQ(to_hex(block), v.plaintext);
    }
}

TEST(SealingAesBlock, Fips197ExampleVectorsOnEachEngine) {
    for (const plusaes::detail::Engine engine : sealing_test::available_engines()) {
        for (const BlockVector& v : kFips197Examples) {
            SCOPED_TRACE(std::string(v.name) + " on " + plusaes::detail::engine_name(engine));
            const Bytes key = from_hex(v.key);
            const plusaes::detail::KeySchedule keys(key.data(), static_cast<int>(key.size()), engine);
            ASSERT_EQ(keys.engine(), engine);

            Bytes block = from_hex(v.plaintext);
            keys.encrypt_block(block.data(), block.data());
            EXPECT_EQ(to_hex(block), v.ciphertext);
            keys.decrypt_block(block.data(), block.data());
            EXPECT_EQ(to_hex(block), v.plaintext);
        }
    }
}

struct ScheduleWord {
    const char* name;
    const char* key;
    int index;
    std::uint32_t listed;
};

const char kKeyA1[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kKeyA2[] = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
const char kKeyA3[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

const ScheduleWord kScheduleWords[] = {
    // FIPS-197 A.1 (AES-128)
    {"A.1 w3", kKeyA1, 3, 0x09cf4f3c},
    {"A.1 w4", kKeyA1, 4, 0xa0fafe17},
    {"A.1 w5", kKeyA1, 5, 0x88542cb1},
    {"A.1 w10", kKeyA1, 10, 0x5935807a},
    {"A.1 w23", kKeyA1, 23, 0x11f915bc},
    {"A.1 w36", kKeyA1, 36, 0xac7766f3},
    {"A.1 w43", kKeyA1, 43, 0xb6630ca6},
    // FIPS-197 A.2 (AES-192)
    {"A.2 w5", kKeyA2, 5, 0x522c6b7b},
    {"A.2 w6", kKeyA2, 6, 0xfe0c91f7},
    {"A.2 w11", kKeyA2, 11, 0x5c56fec2},
    {"A.2 w12", kKeyA2, 12, 0x4db7b4bd},
    {"A.2 w29", kKeyA2, 29, 0xd19da4e1},
    {"A.2 w45", kKeyA2, 45, 0x8fcc5006},
    {"A.2 w51", kKeyA2, 51, 0x01002202},
    // FIPS-197 A.3 (AES-256); w12 and w20 take the extra SubWord step
    {"A.3 w7", kKeyA3, 7, 0x0914dff4},
    {"A.3 w8", kKeyA3, 8, 0x9ba35411},
    {"A.3 w12", kKeyA3, 12, 0xa8b09c1a},
    {"A.3 w15", kKeyA3, 15, 0xb75d5b9a},
    {"A.3 w20", kKeyA3, 20, 0xb5a9328a},
    {"A.3 w44", kKeyA3, 44, 0x5886ca5d},
    {"A.3 w59", kKeyA3, 59, 0x706c631e},
};

TEST(SealingAesBlock, KeyExpansionWords) {
    for (const ScheduleWord& w : kScheduleWords) {
        SCOPED_TRACE(w.name);
        const std::vector<State> round_keys = expand(from_hex(w.key));
        EXPECT_EQ(round_keys[static_cast<std::size_t>(w.index / 4)][w.index % 4], from_listing(w.listed));
    }
}

TEST(SealingAesBlock, RoundKeySequenceShape) {
    const Bytes key = from_hex(kFips197Examples[2].key);  // 32 bytes 00..1f
    const struct {
        int key_size;
        std::size_t round_keys;
    } shapes[] = {{16, 11}, {24, 13}, {32, 15}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.key_size);
        const std::vector<State> round_keys = plusaes::detail::expand_key(key.data(), shape.key_size);
        ASSERT_EQ(round_keys.size(), shape.round_keys);
        EXPECT_EQ(hex_of(round_keys[0]), to_hex(Bytes(key.begin(), key.begin() + 16)));
        EXPECT_EQ(plusaes::detail::get_round_count(shape.key_size), static_cast<int>(shape.round_keys) - 1);
    }
    EXPECT_EQ(hex_of(plusaes::detail::expand_key(key.data(), 32)[1]), to_hex(Bytes(key.begin() + 16, key.end())));
}

TEST(SealingAesBlock, InvalidKeySizesThrowBeforeReadingTheKey) {
    for (int size : {0, 15, 17, 20, 31, 33, 64}) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(plusaes::detail::is_valid_key_size(static_cast<std::uint64_t>(size)));
        try {
            plusaes::detail::get_round_count(size);
            ADD_FAILURE() << "get_round_count did not throw";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "Invalid key size");
        }
        try {
            plusaes::detail::expand_key(nullptr, size);  // a null key: the size test must come first
            ADD_FAILURE() << "expand_key did not throw";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "Invalid key size");
        }
    }
    for (std::uint64_t size : {16u, 24u, 32u}) {
        EXPECT_TRUE(plusaes::detail::is_valid_key_size(size));
    }
    EXPECT_FALSE(plusaes::detail::is_valid_key_size((std::uint64_t{1} << 32) + 16));
}

TEST(SealingAesBlock, FieldArithmeticExamples) {
    const struct {
        const char* name;
        unsigned char value;
        unsigned char doubled;
    } doublings[] = {
        {"80", 0x80, 0x1B},
        {"FF", 0xFF, 0xE5},
        // FIPS-197 4.2.1: xtime chain from {57}
        {"57", 0x57, 0xAE},
        {"AE", 0xAE, 0x47},
        {"47", 0x47, 0x8E},
        {"8E", 0x8E, 0x07},
    };
    for (const auto& d : doublings) {
        SCOPED_TRACE(d.name);
        EXPECT_EQ(plusaes::detail::mul2(d.value), d.doubled);
    }
    const struct {
        const char* name;
        unsigned char a;
        unsigned char b;
        unsigned char product;
    } products[] = {
        {"FIPS-197 4.2.1 {57}*{13}", 0x57, 0x13, 0xFE},
        {"FIPS-197 4.2 {57}*{83}", 0x57, 0x83, 0xC1},
        {"{53} times its inverse {CA}", 0x53, 0xCA, 0x01},
    };
    for (const auto& p : products) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(plusaes::detail::mul(p.a, p.b), p.product);
    }
}

TEST(SealingAesBlock, FieldArithmeticLaws) {
    for (int a = 0; a < 256; ++a) {
        const auto x = static_cast<unsigned char>(a);
        ASSERT_EQ(plusaes::detail::mul(x, 1), x) << a;
        ASSERT_EQ(plusaes::detail::mul(x, 0), 0) << a;
        ASSERT_EQ(plusaes::detail::mul(0, x), 0) << a;
        ASSERT_EQ(plusaes::detail::mul(x, 2), plusaes::detail::mul2(x)) << a;
        for (int b = 0; b < 256; ++b) {
            const auto y = static_cast<unsigned char>(b);
            ASSERT_EQ(plusaes::detail::mul(x, y), plusaes::detail::mul(y, x)) << a << " " << b;
        }
    }
}

TEST(SealingAesBlock, SubstitutionTables) {
    EXPECT_EQ(kSbox[0x00], 0x63);
    EXPECT_EQ(kSbox[0x53], 0xED);  // FIPS-197 5.1.1
    EXPECT_EQ(kInvSbox[0x63], 0x00);
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(kInvSbox[kSbox[b]], b) << b;
    }
    EXPECT_EQ(plusaes::detail::sub_word(0), 0x63636363u);
    // Each byte is substituted in its own lane.
    for (int lane = 0; lane < 4; ++lane) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            const std::uint32_t word = b << (8 * lane);
            const std::uint32_t expected =
                (0x63636363u & ~(0xFFu << (8 * lane))) |
                (static_cast<std::uint32_t>(kSbox[b]) << (8 * lane));
            ASSERT_EQ(plusaes::detail::sub_word(word), expected) << lane << " " << b;
            ASSERT_EQ(plusaes::detail::inv_sub_word(plusaes::detail::sub_word(word)), word);
        }
    }
}

TEST(SealingAesBlock, RotWordTurnsBytesByOne) {
    // a0..a3 = 00 01 02 03 from the least significant byte up.
    EXPECT_EQ(plusaes::detail::rot_word(0x03020100u), 0x00030201u);
    EXPECT_EQ(plusaes::detail::rot_word(0x000000FFu), 0xFF000000u);
}

TEST(SealingAesBlock, StepsMatchFips197RoundOne) {
    // FIPS-197 Appendix B, round 1 (AES-128 key 2b7e1516...).
    State state = state_of("193de3bea0f4e22b9ac68d2ae9f84808");
    plusaes::detail::sub_bytes(state);
    EXPECT_EQ(hex_of(state), "d42711aee0bf98f1b8b45de51e415230");
    plusaes::detail::shift_rows(state);
    EXPECT_EQ(hex_of(state), "d4bf5d30e0b452aeb84111f11e2798e5");
    plusaes::detail::mix_columns(state);
    EXPECT_EQ(hex_of(state), "046681e5e0cb199a48f8d37a2806264c");
    plusaes::detail::add_round_key(state_of("a0fafe1788542cb123a339392a6c7605"), state);
    EXPECT_EQ(hex_of(state), "a49c7ff2689f352b6b5bea43026a5049");
}

TEST(SealingAesBlock, ShiftRowsMovesRowRLeftByR) {
    State state = state_of("000102030405060708090a0b0c0d0e0f");  // byte 4c + r holds 4c + r
    plusaes::detail::shift_rows(state);
    Bytes out(16);
    plusaes::detail::copy_state_to_bytes(state, out.data());
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(out[static_cast<std::size_t>(4 * c + r)], 4 * ((c + r) % 4) + r)
                << "row " << r << " column " << c;
        }
    }
}

TEST(SealingAesBlock, StepsUndoEachOther) {
    std::mt19937 engine = sealing_test::seeded_engine(20240517);
    for (int trial = 0; trial < 1000; ++trial) {
        const State original = random_state(engine);
        const State round_key = random_state(engine);

        State s = original;
        plusaes::detail::shift_rows(s);
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(s[c] & 0xFFu, original[c] & 0xFFu) << "shift_rows moved row 0";
        }
        plusaes::detail::inv_shift_rows(s);
        ASSERT_TRUE(same(s, original)) << "shift_rows, trial " << trial;

        plusaes::detail::mix_columns(s);
        plusaes::detail::inv_mix_columns(s);
        ASSERT_TRUE(same(s, original)) << "mix_columns, trial " << trial;

        plusaes::detail::sub_bytes(s);
        plusaes::detail::inv_sub_bytes(s);
        ASSERT_TRUE(same(s, original)) << "sub_bytes, trial " << trial;

        plusaes::detail::add_round_key(round_key, s);
        plusaes::detail::add_round_key(round_key, s);
        ASSERT_TRUE(same(s, original)) << "add_round_key, trial " << trial;

        Bytes block(16);
        Bytes source(16);
        plusaes::detail::copy_state_to_bytes(original, block.data());
        plusaes::detail::copy_state_to_bytes(round_key, source.data());
        const Bytes before = block;
        plusaes::detail::xor_data(block.data(), source.data());
        plusaes::detail::xor_data(block.data(), source.data());
        ASSERT_EQ(block, before) << "xor_data, trial " << trial;
    }
}

TEST(SealingAesBlock, StateLoadIsLittleEndianPerColumn) {
    const State state = state_of("00112233445566778899aabbccddeeff");
    EXPECT_EQ(state[0], 0x33221100u);
    EXPECT_EQ(state[3], 0xFFEEDDCCu);
    EXPECT_EQ(hex_of(state), "00112233445566778899aabbccddeeff");
}

}  // namespace
