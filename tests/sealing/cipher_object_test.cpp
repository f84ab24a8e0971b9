#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/aes_cbc.h"
#include "sealing/support.h"
#include "transform/utils.h"

namespace {

using Pelmora::AES_CBC;
using Pelmora::Utils;
using sealing_test::Bytes;
using sealing_test::runtime_error_of;

const char kKey128[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kKey192[] = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
const char kKey256[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

const char kDecryptionFailed[] = "Decryption failed.";
const char kDataError[] = "Decompression failed with error: -3";
const char kBadKeySize[] = "Invalid key size. Must be 16, 24, or 32 bytes.";

// Sealed with python's zlib (level 9) and the openssl command line under
// kKey256 and IV 00 01 .. 0f; the zlib stream has 86 bytes, the ciphertext six
// blocks.
const char kGoldenPlaintext[] =
    R"({"name":"alpha","tags":["red","green","blue"],"count":42,"note":"sealed with openssl"})";
const char kGoldenIvPart[] = "AAECAwQFBgcICQoLDA0ODw==";
const char kGoldenCiphertextPart[] =
    "/9WO5xUAfv6fYacd+SJnCIV/imUffbqGAWk63SjLxy+An3P8nP6gx38z11sDB6uZ"
    "OjVO/Na00xpO5aiaJrx07FdKZb1lOMaIoTPJEgqbUvfK45GFi25q4GXsNNrCzcYw";

std::string golden() {
    return std::string(kGoldenIvPart) + ":" + kGoldenCiphertextPart;
}

std::string iv_part_of(const std::string& sealed) {
    return sealed.substr(0, sealed.find(':'));
}

std::string ciphertext_part_of(const std::string& sealed) {
    return sealed.substr(sealed.find(':') + 1);
}

// Decodes a base64 part, XORs one byte, encodes it again.
std::string with_byte_flipped(const std::string& part, std::ptrdiff_t index, unsigned char mask) {
    Bytes bytes = Utils::base64_decode(part);
    const std::size_t at =
        index < 0 ? bytes.size() - static_cast<std::size_t>(-index) : static_cast<std::size_t>(index);
    bytes.at(at) ^= mask;
    return Utils::base64_encode(bytes);
}

// Replaces one base64 character by its neighbour in the alphabet (value ^ 1).
std::string with_character_flipped(std::string part, std::size_t index) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    part.at(index) = alphabet[alphabet.find(part.at(index)) ^ 1];
    return part;
}

TEST(SealingCipherObject, KeySizes) {
    const std::string digits = std::string(kKey256) + kKey256;
    const struct {
        std::size_t digits;
        std::size_t bytes;
    } good[] = {{32, 16}, {31, 16}, {48, 24}, {47, 24}, {64, 32}, {63, 32}};
    for (const auto& c : good) {
        SCOPED_TRACE(std::to_string(c.digits) + " digits");
        AES_CBC cipher(digits.substr(0, c.digits));
        EXPECT_EQ(cipher.key_bytes.size(), c.bytes);
        EXPECT_TRUE(cipher.iv_bytes.empty());
        const std::string plaintext = R"({"k":1})";
        EXPECT_EQ(cipher.decrypt(cipher.encrypt(plaintext)), plaintext);
    }
    // The fixed sentence, then what was found; a lone last digit is a byte.
    const struct {
        std::size_t digits;
        const char* found;
    } bad[] = {
        {0, " The key has 0 characters (0 bytes); use 32, 48 or 64 hexadecimal digits."},
        {1, " The key has 1 character (1 byte); use 32, 48 or 64 hexadecimal digits."},
        {2, " The key has 2 characters (1 byte); use 32, 48 or 64 hexadecimal digits."},
        {30, " The key has 30 characters (15 bytes); use 32, 48 or 64 hexadecimal digits."},
        {33, " The key has 33 characters (17 bytes); use 32, 48 or 64 hexadecimal digits."},
        {34, " The key has 34 characters (17 bytes); use 32, 48 or 64 hexadecimal digits."},
        {40, " The key has 40 characters (20 bytes); use 32, 48 or 64 hexadecimal digits."},
        {41, " The key has 41 characters (21 bytes); use 32, 48 or 64 hexadecimal digits."},
        {65, " The key has 65 characters (33 bytes); use 32, 48 or 64 hexadecimal digits."},
        {96, " The key has 96 characters (48 bytes); use 32, 48 or 64 hexadecimal digits."},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(std::to_string(c.digits) + " digits");
        EXPECT_EQ(runtime_error_of([&] { AES_CBC cipher(digits.substr(0, c.digits)); }),
                  std::string(kBadKeySize) + c.found);
    }
    // Characters are counted, not digits: a prefix, a sign or a blank is read
    // within its pair and gives a byte, but is no hexadecimal digit.
    const struct {
        std::string key;
        const char* found;
    } lenient[] = {
        {"0x" + digits.substr(0, 38), " The key has 40 characters (20 bytes); use 32, 48 or 64 hexadecimal digits."},
        {" 1-1" + digits.substr(0, 29), " The key has 33 characters (17 bytes); use 32, 48 or 64 hexadecimal digits."},
    };
    for (const auto& c : lenient) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(runtime_error_of([&] { AES_CBC cipher(c.key); }), std::string(kBadKeySize) + c.found);
    }
    // An unreadable digit pair is found before the size is tested.
    EXPECT_THROW(AES_CBC("g1"), std::invalid_argument);
    EXPECT_THROW(AES_CBC(std::string("g1") + std::string(kKey128).substr(2)), std::invalid_argument);
}

TEST(SealingCipherObject, SealedTextShape) {
    AES_CBC cipher(kKey128);
    for (const std::string plaintext : {"", "{}", R"({"a":1})"}) {
        SCOPED_TRACE("'" + plaintext + "'");
        ASSERT_LT(Utils::pel_compress(plaintext).size(), 16u);
        const std::string sealed = cipher.encrypt(plaintext);
        EXPECT_EQ(sealed.size(), 49u);
        EXPECT_EQ(sealed[24], ':');
        EXPECT_EQ(sealed.substr(22, 2), "==");
        ASSERT_EQ(cipher.iv_bytes.size(), 16u);
        EXPECT_EQ(iv_part_of(sealed), Utils::base64_encode(cipher.iv_bytes));
        EXPECT_EQ(cipher.decrypt(sealed), plaintext);
    }

    // A zlib stream of exactly one block gains a whole block of padding.
    std::string one_block;
    for (const std::string candidate : {"abcdefgh", "abcdefg", "abcdefghi", "abcdef", "abcdefghij"}) {
        if (Utils::pel_compress(candidate).size() == 16) {
            one_block = candidate;
            break;
        }
    }
    ASSERT_FALSE(one_block.empty()) << "no candidate compresses to 16 bytes";
    const std::string sealed = cipher.encrypt(one_block);
    EXPECT_EQ(sealed.size(), 69u);
    EXPECT_EQ(Utils::base64_decode(ciphertext_part_of(sealed)).size(), 32u);
    EXPECT_EQ(cipher.decrypt(sealed), one_block);
}

TEST(SealingCipherObject, EverySealDrawsItsOwnIv) {
    AES_CBC cipher(kKey192);
    const std::string plaintext = R"({"same":"text"})";
    const std::string first = cipher.encrypt(plaintext);
    const std::string second = cipher.encrypt(plaintext);
    EXPECT_NE(first, second);
    EXPECT_NE(iv_part_of(first), iv_part_of(second));
    EXPECT_EQ(cipher.decrypt(first), plaintext);
    EXPECT_EQ(cipher.decrypt(second), plaintext);
}

TEST(SealingCipherObject, IvsOfTenThousandSealsAreDistinct) {
    AES_CBC cipher(kKey128);
    std::set<std::array<unsigned char, 16>> seen;
    for (int i = 0; i < 10000; ++i) {
        const std::string sealed = cipher.encrypt("{}");
        const Bytes iv = Utils::base64_decode(iv_part_of(sealed));
        ASSERT_EQ(iv.size(), 16u);
        ASSERT_EQ(iv, cipher.iv_bytes);
        std::array<unsigned char, 16> key{};
        std::copy(iv.begin(), iv.end(), key.begin());
        ASSERT_TRUE(seen.insert(key).second) << "IV repeated after " << i << " seals";
    }
}

TEST(SealingCipherObject, IvsAreNotBoundByA32BitSeed) {
    // Were the IV drawn from an engine with a 32-bit seed, 200,000 draws would
    // repeat an IV with probability above 0.99.
    AES_CBC cipher(kKey128);
    std::set<std::array<unsigned char, 16>> seen;
    for (int i = 0; i < 200000; ++i) {
        cipher.init_iv();
        std::array<unsigned char, 16> iv{};
        std::copy(cipher.iv_bytes.begin(), cipher.iv_bytes.end(), iv.begin());
        ASSERT_TRUE(seen.insert(iv).second) << "IV repeated after " << i << " draws";
    }
}

TEST(SealingCipherObject, UpperCaseKeyOpensLowerCaseSeal) {
    const std::string lower = "2b7e151628aed2a6abf7158809cf4f3c8e73b0f7da0e6452";
    std::string upper = lower;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    AES_CBC sealer(lower);
    AES_CBC opener(upper);
    const std::string plaintext = R"({"case":"insensitive"})";
    EXPECT_EQ(opener.decrypt(sealer.encrypt(plaintext)), plaintext);
}

TEST(SealingCipherObject, OpensTextSealedByOtherTools) {
    AES_CBC cipher(kKey256);
    EXPECT_EQ(cipher.decrypt(golden()), kGoldenPlaintext);
    EXPECT_EQ(Utils::base64_encode(cipher.iv_bytes), kGoldenIvPart);
}

struct Tamper {
    const char* name;
    std::string sealed;
    const char* key;
    const char* failure;
};

// Outcomes checked against python's zlib and the openssl command line.
std::vector<Tamper> golden_tampers() {
    const std::string iv = kGoldenIvPart;
    const std::string ct = kGoldenCiphertextPart;
    return {
        {"IV byte 0 flipped (reaches the zlib header)", with_byte_flipped(iv, 0, 0xFF) + ":" + ct, kKey256, kDataError},
        {"IV base64 character flipped", with_character_flipped(iv, 0) + ":" + ct, kKey256, kDataError},
        {"first ciphertext byte flipped", iv + ":" + with_byte_flipped(ct, 0, 0x01), kKey256, kDataError},
        {"last ciphertext byte flipped", iv + ":" + with_byte_flipped(ct, -1, 0x01), kKey256, kDecryptionFailed},
        {"last ciphertext base64 character flipped", iv + ":" + with_character_flipped(ct, ct.size() - 1), kKey256,
         kDecryptionFailed},
        {"other key", golden(), "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff5",
         kDecryptionFailed},
        {"other key size", golden(), kKey128, kDecryptionFailed},
        {"empty ciphertext part", iv + ":", kKey256, kDecryptionFailed},
        {"20-byte ciphertext", iv + ":" + Utils::base64_encode(Bytes(20, 0x42)), kKey256, kDecryptionFailed},
        {"ciphertext broken into lines", iv + ":" + ct.substr(0, 30) + "\n" + ct.substr(30), kKey256,
         kDecryptionFailed},
        {"no separator", iv + ct, kKey256, kDecryptionFailed},
        {"IV part alone", iv, kKey256, kDecryptionFailed},
        {"empty text", "", kKey256, kDecryptionFailed},
        {"separator alone", ":", kKey256, kDecryptionFailed},
        {"empty IV part", ":" + ct, kKey256, kDecryptionFailed},
        {"short IV part", iv.substr(0, 20) + ":" + ct, kKey256, kDecryptionFailed},
        {"long IV part", Utils::base64_encode(Bytes(24, 0x00)) + ":" + ct, kKey256, kDecryptionFailed},
        {"IV part of 17 bytes", Utils::base64_encode(Bytes(17, 0x00)) + ":" + ct, kKey256, kDecryptionFailed},
    };
}

TEST(SealingCipherObject, DamagedTextsFail) {
    for (const Tamper& t : golden_tampers()) {
        SCOPED_TRACE(t.name);
        AES_CBC cipher(t.key);
        EXPECT_EQ(runtime_error_of([&] { cipher.decrypt(t.sealed); }), t.failure);
        // Still usable afterwards.
        if (std::string(t.key) == kKey256) {
            EXPECT_EQ(cipher.decrypt(golden()), kGoldenPlaintext);
        }
    }
}

TEST(SealingCipherObject, TextAfterTheCiphertextIsIgnored) {
    const struct {
        const char* name;
        std::string sealed;
    } cases[] = {
        {"second separator and more", golden() + ":anything at all"},
        {"second separator and a ciphertext", golden() + ":" + kGoldenCiphertextPart},
        {"trailing line break", golden() + "\n"},
        {"trailing CR LF", golden() + "\r\n"},
        {"trailing blank", golden() + " "},
        {"IV part without its padding", std::string(kGoldenIvPart).substr(0, 22) + ":" + kGoldenCiphertextPart},
    };
    AES_CBC cipher(kKey256);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cipher.decrypt(c.sealed), kGoldenPlaintext);
    }
}

TEST(SealingCipherObject, TamperedFreshSealsFail) {
    const std::string plaintext = R"({"id":"r-17","tags":["one","two","three"],"score":0.25,"ok":true})";
    for (const char* key : {kKey128, kKey192, kKey256}) {
        SCOPED_TRACE(key);
        AES_CBC cipher(key);
        const std::string sealed = cipher.encrypt(plaintext);
        const std::string iv = iv_part_of(sealed);
        const std::string ct = ciphertext_part_of(sealed);
        const std::size_t blocks = Utils::base64_decode(ct).size() / 16;
        ASSERT_GE(blocks, 2u);
        ASSERT_EQ(cipher.decrypt(sealed), plaintext);

        // The first decrypted block carries the zlib header (0x78): any IV
        // flip of byte 0 breaks it, and the padding still passes.
        EXPECT_EQ(runtime_error_of([&] { cipher.decrypt(with_byte_flipped(iv, 0, 0xFF) + ":" + ct); }), kDataError);
        // Flipping the top bit of the last byte of the second-last block does
        // the same to the pad count, which then exceeds 16.
        const auto last_pad_source = static_cast<std::ptrdiff_t>(16 * (blocks - 1) - 1);
        EXPECT_EQ(runtime_error_of([&] { cipher.decrypt(iv + ":" + with_byte_flipped(ct, last_pad_source, 0x80)); }),
                  kDecryptionFailed);
    }
}

TEST(SealingCipherObject, BinaryAndLargePlaintexts) {
    AES_CBC cipher(kKey256);
    std::mt19937 engine = sealing_test::seeded_engine(2718);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t size : {1u, 15u, 16u, 17u, 255u, 4096u, 100000u}) {
        std::string plaintext(size, '\0');
        for (char& c : plaintext) {
            c = static_cast<char>(byte(engine));
        }
        ASSERT_EQ(cipher.decrypt(cipher.encrypt(plaintext)), plaintext) << size << " bytes";
    }
    const std::string repetitive(200000, 'z');
    EXPECT_EQ(cipher.decrypt(cipher.encrypt(repetitive)), repetitive);
}

}  // namespace
