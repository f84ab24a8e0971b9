#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/support.h"
#include "transform/utils.h"

namespace {

using Pelmora::Utils;
using sealing_test::Bytes;
using sealing_test::bytes_of;
using sealing_test::from_hex;

struct HexCase {
    const char* name;
    std::string text;
    const char* bytes;  // expected, as hex pairs
};

const HexCase kHexCases[] = {
    {"empty", "", ""},
    {"lower case", "ab", "ab"},
    {"upper case", "AB", "ab"},
    {"mixed case", "aB", "ab"},
    {"leading zero", "0f", "0f"},
    {"single last digit", "f", "0f"},
    {"odd length", "00ff7", "00ff07"},
    {"00ff", "00ff", "00ff"},
    {"digit then blank", "a ", "0a"},
    {"blank then digit", " a", "0a"},
    {"junk after a digit", "1g", "01"},
    {"plus sign", "+f", "0f"},
    {"minus one", "-1", "ff"},
    {"minus f", "-f", "f1"},
    {"0x", "0x", "00"},
    {"0X", "0X", "00"},
};

TEST(SealingTextCodecs, HexDecode) {
    for (const HexCase& c : kHexCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utils::hex_decode(c.text), from_hex(c.bytes));
    }
}

TEST(SealingTextCodecs, HexDecodeKeyLengths) {
    const std::string digits = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";
    const struct {
        std::size_t digits;
        std::size_t bytes;
    } cases[] = {{32, 16}, {31, 16}, {48, 24}, {47, 24}, {64, 32}, {63, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.digits) + " digits");
        EXPECT_EQ(Utils::hex_decode(digits.substr(0, c.digits)).size(), c.bytes);
    }
    EXPECT_EQ(Utils::hex_decode("0123456789abcdef"), Utils::hex_decode("0123456789ABCDEF"));
    EXPECT_EQ(Utils::hex_decode(digits.substr(0, 31)).back(), 0x0E);  // the lone 31st digit
}

TEST(SealingTextCodecs, HexDecodeRejectsPiecesWithoutDigits) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"g1", R"(The key's characters 0 to 1 ("g1") are not hexadecimal.)"},
        {"zz", R"(The key's characters 0 to 1 ("zz") are not hexadecimal.)"},
        {"  ", R"(The key's characters 0 to 1 ("  ") are not hexadecimal.)"},
        {"-", R"(The key's character 0 ("-") is not hexadecimal.)"},
        {"12g1", R"(The key's characters 2 to 3 ("g1") are not hexadecimal.)"},
        {"abz", R"(The key's character 2 ("z") is not hexadecimal.)"},
        {"0123456789abcdef0123zz56789abcde", R"(The key's characters 20 to 21 ("zz") are not hexadecimal.)"},
        {"0123456789abcdef0123456789abcdgg", R"(The key's characters 30 to 31 ("gg") are not hexadecimal.)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            Utils::hex_decode(c.text);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(c.message, e.what());
        }
    }
}

struct Base64Case {
    const char* name;
    Bytes bytes;
    const char* text;
};

const Base64Case kBase64Encodings[] = {
    {"empty", {}, ""},
    {"A", bytes_of("A"), "QQ=="},
    {"AB", bytes_of("AB"), "QUI="},
    {"ABC", bytes_of("ABC"), "QUJD"},
    {"ABCD", bytes_of("ABCD"), "QUJDRA=="},
    {"fb ff", {0xFB, 0xFF}, "+/8="},
    // RFC 4648 section 10
    {"f", bytes_of("f"), "Zg=="},
    {"fo", bytes_of("fo"), "Zm8="},
    {"foo", bytes_of("foo"), "Zm9v"},
    {"foob", bytes_of("foob"), "Zm9vYg=="},
    {"fooba", bytes_of("fooba"), "Zm9vYmE="},
    {"foobar", bytes_of("foobar"), "Zm9vYmFy"},
    {"zero bytes", {0x00, 0x00, 0x00, 0x00}, "AAAAAA=="},
    {"sixteen bytes", Bytes(16, 0xFF), "/////////////////////w=="},
};

TEST(SealingTextCodecs, Base64Encode) {
    for (const Base64Case& c : kBase64Encodings) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utils::base64_encode(c.bytes), c.text);
        EXPECT_EQ(Utils::base64_decode(c.text), c.bytes);
    }
}

const Base64Case kBase64Readings[] = {
    {"empty", {}, ""},
    {"single character", {}, "Q"},
    {"starts with =", {}, "=QUJD"},
    {"QQ==", bytes_of("A"), "QQ=="},
    {"QQ=", bytes_of("A"), "QQ="},
    {"QQ without padding", bytes_of("A"), "QQ"},
    {"spare bits dropped", bytes_of("A"), "QR=="},
    {"lone last character", bytes_of("ABC"), "QUJDR"},
    {"QUJDRA without padding", bytes_of("ABCD"), "QUJDRA"},
    {"stops at =", bytes_of("ABC"), "QUJD=QUJD"},
    {"stops at !", bytes_of("ABC"), "QUJD!RA=="},
    {"stops at a line break", bytes_of("ABC"), "QUJD\nRA=="},
    {"stops at a blank", bytes_of("ABC"), "QUJD RA=="},
    {"stops at -", bytes_of("ABC"), "QUJD-RA=="},
    {"stops at _", bytes_of("ABC"), "QUJD_RA=="},
    {"stops at :", bytes_of("ABC"), "QUJD:RA=="},
    {"stops at byte 0x80", bytes_of("ABC"), "QUJD\x80RA=="},
    {"stops at byte 0xff", bytes_of("ABC"), "QUJD\xffRA=="},
};

TEST(SealingTextCodecs, Base64DecodeReadsTheLongestPrefix) {
    for (const Base64Case& c : kBase64Readings) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utils::base64_decode(c.text), c.bytes);
    }
}

TEST(SealingTextCodecs, Base64RoundTripOfRandomBytes) {
    std::mt19937 engine = sealing_test::seeded_engine(99);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t size = 0; size <= 200; ++size) {
        Bytes bytes(size);
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(byte(engine));
        }
        const std::string text = Utils::base64_encode(bytes);
        ASSERT_EQ(text.size(), (size + 2) / 3 * 4);
        ASSERT_EQ(Utils::base64_decode(text), bytes) << "length " << size;
    }
}

}  // namespace
