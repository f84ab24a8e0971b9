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
    EXPECT_EQ(plusaes::detail::kSbox[0x00], 0x63);
    EXPECT_EQ(plusaes::detail::kSbox[0x53], 0xED);  // FIPS-197 5.1.1
    EXPECT_EQ(plusaes::detail::kInvSbox[0x63], 0x00);
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(plusaes::detail::kInvSbox[plusaes::detail::kSbox[b]], b) << b;
    }
    EXPECT_EQ(plusaes::detail::sub_word(0), 0x63636363u);
    // Each byte is substituted in its own lane.
    for (int lane = 0; lane < 4; ++lane) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            const std::uint32_t word = b << (8 * lane);
            const std::uint32_t expected =
                (0x63636363u & ~(0xFFu << (8 * lane))) |
                (static_cast<std::uint32_t>(plusaes::detail::kSbox[b]) << (8 * lane));
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
