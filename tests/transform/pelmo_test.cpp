#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "bits.h"
#include "transform/pelmo.h"
#include "transform/stages.h"

namespace {

using Pelmora::Pelmo;
using Pelmora::Profile;

void expect_profile(const Profile& expected, const Profile& actual) {
    EXPECT_EQ(expected.scale_enabled, actual.scale_enabled);
    EXPECT_SAME_BITS(expected.scale_min, actual.scale_min);
    EXPECT_SAME_BITS(expected.scale_max, actual.scale_max);
    EXPECT_EQ(expected.shear_enabled, actual.shear_enabled);
    EXPECT_SAME_BITS(expected.shear_min, actual.shear_min);
    EXPECT_SAME_BITS(expected.shear_max, actual.shear_max);
    EXPECT_EQ(expected.rotation_enabled, actual.rotation_enabled);
    EXPECT_EQ(expected.noise_enabled, actual.noise_enabled);
    EXPECT_SAME_BITS(expected.noise_min, actual.noise_min);
    EXPECT_SAME_BITS(expected.noise_max, actual.noise_max);
}

TEST(Pelmo, ProfileBitPatterns) {
    using pel_test::from_bits;
    const Profile one{true,  from_bits(0x3FECCCCCCCCCCCCD), from_bits(0x3FF199999999999A), true, 0.0,
                      from_bits(0x3FC999999999999A), true, true, from_bits(0x3FC999999999999A),
                      from_bits(0x3FD3333333333333)};
    const Profile two{false, from_bits(0x3FECCCCCCCCCCCCD), from_bits(0x3FF199999999999A), true, 0.0,
                      from_bits(0x3FB999999999999A), true, true, from_bits(0x3FB999999999999A),
                      from_bits(0x3FC999999999999A)};
    expect_profile(one, Pelmo("k", "COSINE", 1, 4).profile());
    expect_profile(two, Pelmo("k", "COSINE", 2, 4).profile());
    EXPECT_SAME_BITS(0.0, Pelmo("k", "COSINE", 1, 4).profile().shear_min);  // +0.0, not -0.0
}

TEST(Pelmo, ScalingOnlyForVersionOneUnderExactCosine) {
    struct Case {
        const char* space;
        int version;
        bool scaling;
    };
    const Case cases[] = {
        {"COSINE", 1, true},  {"L2", 1, false},     {"INNER_PRODUCT", 1, false}, {"cosine", 1, false},
        {"COSINE ", 1, false}, {"", 1, false},      {"COSINE", 2, false},        {"L2", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.space) + " v" + std::to_string(c.version));
        const Pelmo codec("0123456789abcdef", c.space, c.version, 3);
        EXPECT_EQ(c.scaling, codec.profile().scale_enabled);
        EXPECT_SAME_BITS(0.9, codec.profile().scale_min);  // bounds stay written
        EXPECT_EQ(c.space, codec.space());
    }
}

TEST(Pelmo, InvalidVersionLeavesObjectWithoutKey) {
    for (const int version : {0, 3, -1}) {
        SCOPED_TRACE(version);
        testing::internal::CaptureStderr();
        const Pelmo codec("0123456789abcdef0123456789abcdef", "COSINE", version, 4);
        EXPECT_EQ("Invalid version number\n", testing::internal::GetCapturedStderr());
        EXPECT_FALSE(codec.has_profile());
        EXPECT_TRUE(codec.key().empty());
        EXPECT_THROW(codec.get_matrix(), std::out_of_range);
        Pelmora::Vector v = Pelmora::Vector::Ones(4);
        EXPECT_THROW(codec.encode_vector(v), std::invalid_argument);
        EXPECT_THROW(codec.decode_vector(v), std::out_of_range);
    }
}

TEST(KeyField, ParsesLikeStoiInBase16) {
    struct Case {
        const char* field;
        int value;
    };
    const Case cases[] = {
        {"FFFF", 65535}, {"ffff", 65535}, {" 1a2", 418}, {"0x1F", 31}, {"0xZZ", 0},
        {"12ZZ", 18},    {"-FFF", -4095}, {"+7z0", 7},   {"\t\n1", 1}, {"0000", 0},
        {"0x", 0},  // the 0 is the number when no digit follows the x
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(c.value, Pelmora::parse_key_field(std::string("....") + c.field, 1));
    }
    EXPECT_EQ(18446744073709547521ull, Pelmora::key_seed(-4095));
    for (const char* bad : {"ZZ12", "    ", "-", "+ 12", "-zzz", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Pelmora::parse_key_field(bad, 0), std::invalid_argument);
    }
}

TEST(KeyField, ShortKeysFailInTheFieldThatRunsOut) {
    const std::string key = "0123456789abcdef";
    EXPECT_THROW(Pelmo(key.substr(0, 12), "COSINE", 1, 4).get_matrix(), std::invalid_argument);  // field 3 empty
    EXPECT_THROW(Pelmo(key.substr(0, 11), "COSINE", 1, 4).get_matrix(), std::out_of_range);      // starts past end
    EXPECT_NO_THROW(Pelmo(key.substr(0, 13), "COSINE", 1, 4).get_matrix());                       // one digit
    // dim 0 still parses the three fields
    EXPECT_THROW(Pelmo(key.substr(0, 11), "COSINE", 1, 0).get_matrix(), std::out_of_range);
}

// The message names the characters of the field at fault, or the key's length
// when the field has nothing to read; the type stays what std::stoi and
// std::string::substr gave.
TEST(KeyField, FailuresSayWhichCharactersAndWhy) {
    enum class Type { invalid, range };
    struct Case {
        std::string key;
        int field;
        Type type;
        const char* message;
    };
    const std::string tail = "0123456789abcdef";
    const Case cases[] = {
        {"zz5f" + tail, 0, Type::invalid, R"(The key's characters 0 to 3 ("zz5f") are not hexadecimal.)"},
        {"0123 -g9" + tail, 1, Type::invalid, R"(The key's characters 4 to 7 (" -g9") are not hexadecimal.)"},
        {"01234567zz5f" + tail, 2, Type::invalid, R"(The key's characters 8 to 11 ("zz5f") are not hexadecimal.)"},
        {"0123456789abZZ12", 3, Type::invalid, R"(The key's characters 12 to 15 ("ZZ12") are not hexadecimal.)"},
        // A last field cut short by the end of the key.
        {"0123456789abzz", 3, Type::invalid, R"(The key's characters 12 to 13 ("zz") are not hexadecimal.)"},
        {"0123456789abz", 3, Type::invalid, R"(The key's character 12 ("z") is not hexadecimal.)"},
        // Kept on one line, whatever bytes the key holds.
        {"0123\t\n\r\x01", 1, Type::invalid, R"(The key's characters 4 to 7 ("\t\n\r\x01") are not hexadecimal.)"},
        {"0123\"\\\x7f\xc3", 1, Type::invalid, R"(The key's characters 4 to 7 ("\"\\\x7f\xc3") are not hexadecimal.)"},
        // Nothing to read.
        {"0123456789ab", 3, Type::invalid, "The key has 12 characters; the codec reads the first 16."},
        {"0123456789a", 3, Type::range, "The key has 11 characters; the codec reads the first 16."},
        {"7e", 1, Type::range, "The key has 2 characters; the codec reads the first 16."},
        {"7", 1, Type::range, "The key has 1 character; the codec reads the first 16."},
        {"", 0, Type::invalid, "The key has 0 characters; the codec reads the first 16."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            Pelmora::parse_key_field(c.key, c.field);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(Type::invalid, c.type);
            EXPECT_EQ(std::string(c.message), e.what());
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(Type::range, c.type);
            EXPECT_EQ(std::string(c.message), e.what());
        }
    }
}

}  // namespace
