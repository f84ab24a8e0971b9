#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/aes.h"
#include "sealing/support.h"

namespace {

using sealing_test::Bytes;
using sealing_test::from_hex;
using sealing_test::to_hex;

constexpr unsigned char kJunk = 0xA5;
constexpr std::uint64_t kUnsetPad = 0xDEADBEEF;

const char kPlaintext38A[] =
    "6bc1bee22e409f96e93d7e117393172a"
    "ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef"
    "f69f2445df4f9b17ad2b417be66c3710";

struct CbcVector {
    const char* name;
    const char* key;
    const char* ciphertext;
};

const CbcVector kSp80038a[] = {
    // SP 800-38A F.2.1 / F.2.2 (CBC-AES128)
    {"CBC-AES128", "2b7e151628aed2a6abf7158809cf4f3c",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    // SP 800-38A F.2.3 / F.2.4 (CBC-AES192)
    {"CBC-AES192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    // SP 800-38A F.2.5 / F.2.6 (CBC-AES256)
    {"CBC-AES256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

const unsigned char kIv38A[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                  0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

// Arbitrary fixed key and IV for the padding cases.
const Bytes kKey = from_hex("000102030405060708090a0b0c0d0e0f");
const unsigned char kIv[16] = {0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5, 0x96, 0x87,
                               0x78, 0x69, 0x5a, 0x4b, 0x3c, 0x2d, 0x1e, 0x0f};

Bytes block_encrypt(const Bytes& block) {
    const auto round_keys = plusaes::detail::expand_key(kKey.data(), 16);
    Bytes out(16);
    plusaes::detail::encrypt_state(round_keys, block.data(), out.data());
    return out;
}

Bytes xored(Bytes a, const unsigned char* b) {
    plusaes::detail::xor_data(a.data(), b);
    return a;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(0x30 + i * 7);
    }
    return bytes;
}

Bytes padded_encrypt(const Bytes& plaintext, const unsigned char (*iv)[16] = &kIv) {
    Bytes out(plusaes::get_padded_encrypted_size(plaintext.size()), kJunk);
    EXPECT_EQ(plusaes::encrypt_cbc(plaintext.data(), plaintext.size(), kKey.data(), kKey.size(), iv, out.data(),
                                   out.size(), true),
              plusaes::status_ok);
    return out;
}

// Ciphertext of `plaintext` (whole blocks) encrypted without padding, so
// that its decryption ends in whatever last block the test wants.
Bytes raw_encrypt(const Bytes& plaintext) {
    Bytes out(plaintext.size(), kJunk);
    EXPECT_EQ(plusaes::encrypt_cbc(plaintext.data(), plaintext.size(), kKey.data(), kKey.size(), &kIv, out.data(),
                                   out.size(), false),
              plusaes::status_ok);
    return out;
}

// The public functions on the selected engine, then the schedule-based ones
// on each engine.
TEST(SealingCbc, Sp80038aVectors) {
    using plusaes::detail::Engine;
    const Bytes plaintext = from_hex(kPlaintext38A);
    struct Route {
        std::string name;
        Engine engine;
        bool public_functions;
    };
    std::vector<Route> routes = {{"encrypt_cbc/decrypt_cbc", plusaes::detail::selected_engine(), true}};
    for (const Engine engine : sealing_test::available_engines()) {
        routes.push_back({plusaes::detail::engine_name(engine), engine, false});
    }
    for (const Route& route : routes) {
        for (const CbcVector& v : kSp80038a) {
            SCOPED_TRACE(std::string(v.name) + " on " + route.name);
            const Bytes key = from_hex(v.key);
            const plusaes::detail::KeySchedule keys(key.data(), static_cast<int>(key.size()), route.engine);
            Bytes encrypted(plaintext.size() + 8, kJunk);
            ASSERT_EQ(route.public_functions
                          ? plusaes::encrypt_cbc(plaintext.data(), plaintext.size(), key.data(), key.size(), &kIv38A,
                                                 encrypted.data(), encrypted.size(), false)
                          : plusaes::detail::encrypt_cbc(keys, plaintext.data(), plaintext.size(), &kIv38A,
                                                         encrypted.data(), encrypted.size(), false),
                      plusaes::status_ok);
            EXPECT_EQ(to_hex(Bytes(encrypted.begin(), encrypted.begin() + 64)), v.ciphertext);
            EXPECT_EQ(Bytes(encrypted.begin() + 64, encrypted.end()), Bytes(8, kJunk)) << "wrote past the ciphertext";

            const Bytes ciphertext = from_hex(v.ciphertext);
            Bytes decrypted(ciphertext.size(), kJunk);
            ASSERT_EQ(route.public_functions
                          ? plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), key.data(), key.size(), &kIv38A,
                                                 decrypted.data(), decrypted.size(), nullptr)
                          : plusaes::detail::decrypt_cbc(keys, ciphertext.data(), ciphertext.size(), &kIv38A,
                                                         decrypted.data(), decrypted.size(), nullptr),
                      plusaes::status_ok);
            EXPECT_EQ(to_hex(decrypted), kPlaintext38A);
        }
    }
}

TEST(SealingCbc, PaddedSize) {
    const std::uint64_t cases[][2] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {32, 48}};
    for (const auto& c : cases) {
        EXPECT_EQ(plusaes::get_padded_encrypted_size(c[0]), c[1]) << c[0];
    }
}

TEST(SealingCbc, PaddedEncryptionBlocks) {
    const Bytes sixteens(16, 0x10);

    const Bytes empty = padded_encrypt({});
    EXPECT_EQ(to_hex(empty), to_hex(block_encrypt(xored(sixteens, kIv))));

    const Bytes one_block = pattern(16);
    const Bytes c16 = padded_encrypt(one_block);
    ASSERT_EQ(c16.size(), 32u);
    EXPECT_EQ(to_hex(Bytes(c16.begin(), c16.begin() + 16)), to_hex(block_encrypt(xored(one_block, kIv))));
    EXPECT_EQ(to_hex(Bytes(c16.begin() + 16, c16.end())), to_hex(block_encrypt(xored(sixteens, c16.data()))));

    const Bytes seventeen = pattern(17);
    const Bytes c17 = padded_encrypt(seventeen);
    ASSERT_EQ(c17.size(), 32u);
    Bytes second(16, 0x0F);
    second[0] = seventeen[16];
    EXPECT_EQ(to_hex(Bytes(c17.begin() + 16, c17.end())), to_hex(block_encrypt(xored(second, c17.data()))));
}

TEST(SealingCbc, PaddedRoundTripOfEveryLength) {
    for (std::size_t m = 0; m <= 50; ++m) {
        SCOPED_TRACE("plaintext of " + std::to_string(m) + " bytes");
        const Bytes plaintext = pattern(m);
        const Bytes ciphertext = padded_encrypt(plaintext);
        const std::uint64_t pad = 16 - m % 16;

        Bytes raw(ciphertext.size(), kJunk);
        ASSERT_EQ(plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), kKey.data(), kKey.size(), &kIv,
                                       raw.data(), raw.size(), nullptr),
                  plusaes::status_ok);
        Bytes expected_raw = plaintext;
        expected_raw.insert(expected_raw.end(), pad, static_cast<unsigned char>(pad));
        EXPECT_EQ(raw, expected_raw);

        // A buffer longer than the ciphertext shows which bytes are left alone.
        Bytes out(ciphertext.size() + 5, kJunk);
        std::uint64_t pad_count = kUnsetPad;
        ASSERT_EQ(plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), kKey.data(), kKey.size(), &kIv,
                                       out.data(), out.size(), &pad_count),
                  plusaes::status_ok);
        EXPECT_EQ(pad_count, pad);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(m)), plaintext);
        const unsigned char rest = ciphertext.size() == 16 ? 0x00 : kJunk;  // one block clears the buffer
        EXPECT_EQ(Bytes(out.begin() + static_cast<long>(m), out.end()), Bytes(out.size() - m, rest));
    }
}

TEST(SealingCbc, NullIvActsAsZeroIv) {
    const unsigned char zero_iv[16] = {};
    const Bytes plaintext = pattern(37);
    const Bytes with_zero = padded_encrypt(plaintext, &zero_iv);
    EXPECT_EQ(padded_encrypt(plaintext, nullptr), with_zero);

    Bytes out(with_zero.size(), kJunk);
    std::uint64_t pad_count = 0;
    ASSERT_EQ(plusaes::decrypt_cbc(with_zero.data(), with_zero.size(), kKey.data(), kKey.size(), nullptr, out.data(),
                                   out.size(), &pad_count),
              plusaes::status_ok);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 37), plaintext);
}

TEST(SealingCbc, DecryptionIntoTheShortestBuffer) {
    // Output of n - 16 bytes passes the argument check; only a full block of
    // padding fits.
    const Bytes whole = padded_encrypt(pattern(32));  // 48 bytes, pad 16
    Bytes out(32, kJunk);
    std::uint64_t pad_count = kUnsetPad;
    EXPECT_EQ(plusaes::decrypt_cbc(whole.data(), whole.size(), kKey.data(), kKey.size(), &kIv, out.data(), out.size(),
                                   &pad_count),
              plusaes::status_ok);
    EXPECT_EQ(pad_count, 16u);
    EXPECT_EQ(out, pattern(32));

    const Bytes partial = padded_encrypt(pattern(20));  // 32 bytes, pad 12
    Bytes small(16, kJunk);
    pad_count = kUnsetPad;
    EXPECT_EQ(plusaes::decrypt_cbc(partial.data(), partial.size(), kKey.data(), kKey.size(), &kIv, small.data(),
                                   small.size(), &pad_count),
              plusaes::status_bad_buffer_size);
    EXPECT_EQ(pad_count, 12u);
    EXPECT_EQ(small, pattern(16)) << "blocks before the last are decrypted";
}

TEST(SealingCbc, InvalidPaddingIsRefused) {
    const struct {
        const char* name;
        const char* last_block;
        std::uint64_t pad_count;
    } cases[] = {
        {"final byte 00", "000102030405060708090a0b0c0d0e00", 0x00},
        {"final byte 11", "11111111111111111111111111111111", 0x11},
        {"final byte ff", "000102030405060708090a0b0c0d0eff", 0xFF},
        {"pad 4, one byte differs", "000102030405060708090a0b04050404", 0x04},
        {"pad 16, first byte differs", "0f101010101010101010101010101010", 0x10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes ciphertext = raw_encrypt(from_hex(std::string(32, '7') + c.last_block));
        Bytes out(ciphertext.size(), kJunk);
        std::uint64_t pad_count = kUnsetPad;
        EXPECT_EQ(plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), kKey.data(), kKey.size(), &kIv,
                                       out.data(), out.size(), &pad_count),
                  plusaes::status_bad_padding);
        EXPECT_EQ(pad_count, c.pad_count);
        EXPECT_FALSE(plusaes::detail::check_padding(c.pad_count, from_hex(c.last_block).data()));
    }
    EXPECT_TRUE(plusaes::detail::check_padding(1, from_hex("000102030405060708090a0b0c0d0e01").data()));
    EXPECT_TRUE(plusaes::detail::check_padding(16, Bytes(16, 0x10).data()));
}

enum class Op { encrypt_padded, encrypt_raw, decrypt_padded, decrypt_raw };

struct StatusCase {
    const char* name;
    Op op;
    std::uint64_t data_size;
    std::uint64_t key_size;
    std::uint64_t output_size;
    int status;
};

// Argument checks, first failing test wins; a failing call writes nothing.
const StatusCase kStatusCases[] = {
    {"raw encryption of 20 bytes, 20-byte key: data size first", Op::encrypt_raw, 20, 20, 32, 1},
    {"padded encryption, 20-byte key, empty output: key size first", Op::encrypt_padded, 32, 20, 0, 2},
    {"padded encryption, 15-byte key", Op::encrypt_padded, 16, 15, 32, 2},
    {"padded encryption, 33-byte key", Op::encrypt_padded, 16, 33, 32, 2},
    {"padded encryption of 16 bytes into 31", Op::encrypt_padded, 16, 16, 31, 3},
    {"padded encryption of 16 bytes into 32", Op::encrypt_padded, 16, 16, 32, 0},
    {"padded encryption of 15 bytes into 15", Op::encrypt_padded, 15, 24, 15, 3},
    {"padded encryption of 0 bytes into 16", Op::encrypt_padded, 0, 32, 16, 0},
    {"raw encryption of 32 bytes into 31", Op::encrypt_raw, 32, 16, 31, 3},
    {"raw encryption of 32 bytes into 32", Op::encrypt_raw, 32, 16, 32, 0},
    {"raw encryption of 0 bytes", Op::encrypt_raw, 0, 16, 0, 0},
    {"padded decryption of 17 bytes", Op::decrypt_padded, 17, 16, 32, 1},
    {"raw decryption of 17 bytes", Op::decrypt_raw, 17, 16, 32, 1},
    {"padded decryption, 20-byte key", Op::decrypt_padded, 32, 20, 32, 2},
    {"padded decryption of 0 bytes, large output", Op::decrypt_padded, 0, 16, 4096, 3},
    {"padded decryption of 32 bytes into 15", Op::decrypt_padded, 32, 16, 15, 3},
    {"raw decryption of 32 bytes into 31", Op::decrypt_raw, 32, 16, 31, 3},
    {"raw decryption of 0 bytes", Op::decrypt_raw, 0, 16, 0, 0},
};

TEST(SealingCbc, ArgumentChecks) {
    const Bytes key = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f000000");
    const Bytes data = pattern(64);
    for (const StatusCase& c : kStatusCases) {
        SCOPED_TRACE(c.name);
        Bytes out(4096, kJunk);
        std::uint64_t pad_count = kUnsetPad;
        int status = -1;
        switch (c.op) {
            case Op::encrypt_padded:
            case Op::encrypt_raw: {
                const bool pads = c.op == Op::encrypt_padded;
                status = plusaes::encrypt_cbc(data.data(), c.data_size, key.data(), c.key_size, &kIv, out.data(),
                                              c.output_size, pads);
                EXPECT_EQ(plusaes::detail::check_encrypt_cond(c.data_size, c.key_size, c.output_size, pads),
                          c.status);
                break;
            }
            case Op::decrypt_padded:
            case Op::decrypt_raw: {
                std::uint64_t* pad = c.op == Op::decrypt_padded ? &pad_count : nullptr;
                status = plusaes::decrypt_cbc(data.data(), c.data_size, key.data(), c.key_size, &kIv, out.data(),
                                              c.output_size, pad);
                EXPECT_EQ(plusaes::detail::check_decrypt_cond(c.data_size, c.key_size, c.output_size, pad), c.status);
                break;
            }
        }
        EXPECT_EQ(status, c.status);
        const bool nothing_to_do = c.data_size == 0 && (c.op == Op::encrypt_raw || c.op == Op::decrypt_raw);
        if (c.status != plusaes::status_ok || nothing_to_do) {
            EXPECT_EQ(out, Bytes(4096, kJunk)) << "output written";
        }
        EXPECT_EQ(pad_count, kUnsetPad) << "pad count written";
    }
}

TEST(SealingCbc, EncryptionLeavesBytesPastTheCiphertext) {
    const Bytes plaintext = pattern(21);
    Bytes out(40, kJunk);
    ASSERT_EQ(plusaes::encrypt_cbc(plaintext.data(), plaintext.size(), kKey.data(), kKey.size(), &kIv, out.data(),
                                   out.size(), true),
              plusaes::status_ok);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), padded_encrypt(plaintext));
    EXPECT_EQ(Bytes(out.begin() + 32, out.end()), Bytes(8, kJunk));
}

}  // namespace
