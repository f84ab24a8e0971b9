// The exported pair of the earlier libraries, linked in from this executable's
// core.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "pel_earlier.h"
#include "vectors.h"

namespace {

const char* const kKey = "9f3e77a1c05b2d68";
constexpr double kJunk = -12345.678;
constexpr std::uint64_t kSeed = 20240611;

using Transform = void (*)(const char*, const double*, int, double*);

TEST(EarlierExports, RoundTripAtEveryDimensionUpTo64) {
    for (int dim = 1; dim <= 64; ++dim) {
        SCOPED_TRACE("dim " + std::to_string(dim) + ", seed " + std::to_string(kSeed + dim));
        const std::vector<double> input = pel_test::sample_vector(kSeed + dim, dim);
        std::vector<double> encoded(dim, kJunk), decoded(dim, kJunk);
        encode(kKey, input.data(), dim, encoded.data());
        ASSERT_EQ(nullptr, last_error_message());
        decode(kKey, encoded.data(), dim, decoded.data());
        ASSERT_EQ(nullptr, last_error_message());
        EXPECT_LE(pel_test::relative_distance(input, decoded), pel_test::kRoundTripTolerance);
    }
}

TEST(EarlierExports, InPlaceRepeatedAndLongKeyGiveTheSameBits) {
    const int dim = 7;
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    const std::vector<double> input = pel_test::sample_vector(kSeed, dim);
    std::vector<double> first(dim), again(dim), longer(dim), in_place = input;
    encode(kKey, input.data(), dim, first.data());
    encode(kKey, input.data(), dim, again.data());
    // Characters after the sixteenth are not read by the vector codec.
    encode("9f3e77a1c05b2d68ZZ-not-hex", input.data(), dim, longer.data());
    encode(kKey, in_place.data(), dim, in_place.data());
    EXPECT_EQ(first, again);
    EXPECT_EQ(first, longer);
    EXPECT_EQ(first, in_place);

    std::vector<double> decoded(dim), decoded_in_place = first;
    decode(kKey, first.data(), dim, decoded.data());
    decode(kKey, decoded_in_place.data(), dim, decoded_in_place.data());
    EXPECT_EQ(decoded, decoded_in_place);
}

TEST(EarlierExports, FailuresLeaveOutputAndReportTheReason) {
    const int dim = 4;
    const std::vector<double> input = pel_test::sample_vector(kSeed, dim);
    struct Case {
        const char* name;
        const char* function;
        Transform transform;
        const char* key;
        int dim;
        bool null_input;
        bool null_output;
        const char* reason;  // substring of last_error_message()
    };
    const Case cases[] = {
        {"bad noise field", "encode", encode, "zzzz77a1c05b2d68", dim, false, false, R"(The key's characters 0 to 3 ("zzzz") are not hexadecimal.)"},
        {"bad noise field after the products", "decode", decode, "zzzz77a1c05b2d68", dim, false, false, R"(The key's characters 0 to 3 ("zzzz") are not hexadecimal.)"},
        {"short key", "encode", encode, "9f3e77a1c05", dim, false, false,
         "The key has 11 characters; the codec reads the first 16."},
        {"null key", "decode", decode, nullptr, dim, false, false, "key is null"},
        {"null input", "encode", encode, kKey, dim, true, false, "input is null"},
        {"null output", "decode", decode, kKey, dim, false, true, "output is null"},
        {"negative dim encode", "encode", encode, kKey, -3, false, false, "negative"},
        {"negative dim decode", "decode", decode, kKey, -1, false, false, "negative"},
        {"decode dim 0", "decode", decode, kKey, 0, false, false, "at least 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> output(dim, kJunk);
        testing::internal::CaptureStderr();
        c.transform(c.key, c.null_input ? nullptr : input.data(), c.dim, c.null_output ? nullptr : output.data());
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(nullptr, last_error_message());
        const std::string reason = last_error_message();
        EXPECT_NE(std::string::npos, reason.find(c.reason)) << reason;
        // The only output of a failure: the reason, once, on stderr.
        EXPECT_EQ(std::string(c.function) + ": " + reason + "\n", err);
        EXPECT_EQ(std::vector<double>(dim, kJunk), output);
    }
    std::vector<double> output(dim);
    encode(kKey, input.data(), dim, output.data());
    EXPECT_EQ(nullptr, last_error_message());
}

TEST(EarlierExports, ZeroVectorAndEmptyDimension) {
    std::vector<double> zeros(3, 0.0), output(3, kJunk);
    encode(kKey, zeros.data(), 3, output.data());
    EXPECT_EQ(nullptr, last_error_message());
    for (const double x : output) EXPECT_TRUE(std::isnan(x));
    double untouched = kJunk;
    encode(kKey, &untouched, 0, &untouched);
    EXPECT_EQ(nullptr, last_error_message());
    EXPECT_EQ(kJunk, untouched);
}

}  // namespace
