#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "pel_arm64.h"

namespace {

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
constexpr double kJunk = -12345.678;

using Transform = void (*)(const char*, const char*, int, int, const double*, double*);

std::vector<double> ramp(int dim) {
    std::vector<double> v(dim);
    for (int i = 0; i < dim; ++i) v[i] = 0.5 + i;
    return v;
}

TEST(VectorExports, RoundTripInPlaceAndSeparate) {
    for (const int version : {1, 2}) {
        for (const int dim : {2, 5, 64}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(dim));
            const std::vector<double> input = ramp(dim);
            std::vector<double> encoded(dim, kJunk), in_place = input, decoded(dim, kJunk);
            encode_vector(kKey, "COSINE", version, dim, input.data(), encoded.data());
            EXPECT_EQ(nullptr, last_error_message());
            encode_vector(kKey, "COSINE", version, dim, in_place.data(), in_place.data());
            EXPECT_EQ(encoded, in_place);
            decode_vector(kKey, "COSINE", version, dim, encoded.data(), decoded.data());
            EXPECT_EQ(nullptr, last_error_message());
            for (int i = 0; i < dim; ++i) EXPECT_NEAR(input[i], decoded[i], 1e-12 * dim);
        }
    }
}

TEST(VectorExports, MetricNameActsOnlyThroughScaling) {
    const int dim = 6;
    const std::vector<double> input = ramp(dim);
    std::vector<double> l2(dim), other(dim), cosine(dim), back(dim);
    encode_vector(kKey, "L2", 1, dim, input.data(), l2.data());
    encode_vector(kKey, "whatever", 1, dim, input.data(), other.data());
    encode_vector(kKey, "COSINE", 1, dim, input.data(), cosine.data());
    EXPECT_EQ(l2, other);
    EXPECT_NE(l2, cosine);
    decode_vector(kKey, "INNER_PRODUCT", 1, dim, l2.data(), back.data());
    for (int i = 0; i < dim; ++i) EXPECT_NEAR(input[i], back[i], 1e-12);
}

TEST(VectorExports, FailuresLeaveOutputAndReportTheReason) {
    const int dim = 4;
    const std::vector<double> input = ramp(dim);
    struct Case {
        const char* name;
        Transform function;
        const char* key;
        const char* space;
        int version;
        int dim;
        bool null_input;
        bool null_output;
        const char* reason;  // substring of last_error_message()
        // The codec's own line on stderr, which the guard does not repeat.
        const char* own_line = nullptr;
    };
    const Case cases[] = {
        {"bad noise field", encode_vector, "zzzz567890abcdef", "COSINE", 1, dim, false, false,
         R"(The key's characters 0 to 3 ("zzzz") are not hexadecimal.)"},
        {"short key", decode_vector, "0123456789a", "COSINE", 1, dim, false, false,
         "The key has 11 characters; the codec reads the first 16."},
        {"version 3", encode_vector, kKey, "COSINE", 3, dim, false, false,
         "Invalid version number. The version given is 3; the versions are 1 and 2.", "Invalid version number"},
        {"version 0 decode", decode_vector, kKey, "COSINE", 0, dim, false, false,
         "Invalid version number. The version given is 0; the versions are 1 and 2.", "Invalid version number"},
        {"version -1", encode_vector, kKey, "L2", -1, dim, false, false,
         "Invalid version number. The version given is -1; the versions are 1 and 2.", "Invalid version number"},
        {"null key", encode_vector, nullptr, "COSINE", 1, dim, false, false, "key is null"},
        {"null space", decode_vector, kKey, nullptr, 1, dim, false, false, "space is null"},
        {"null input", encode_vector, kKey, "COSINE", 1, dim, true, false, "input is null"},
        {"null output", decode_vector, kKey, "COSINE", 1, dim, false, true, "output is null"},
        {"negative dim", encode_vector, kKey, "COSINE", 1, -3, false, false, "negative"},
        {"decode dim 1", decode_vector, kKey, "COSINE", 1, 1, false, false, "at least 2"},
        {"decode dim 0", decode_vector, kKey, "COSINE", 1, 0, false, false, "at least 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> output(dim, kJunk);
        testing::internal::CaptureStderr();
        c.function(c.key, c.space, c.version, c.dim, c.null_input ? nullptr : input.data(),
                   c.null_output ? nullptr : output.data());
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(nullptr, last_error_message());
        EXPECT_NE(std::string::npos, std::string(last_error_message()).find(c.reason)) << last_error_message();
        // One line per failure: a bad version's own line, word for word and not
        // repeated by the guard; else the guard's line with the whole reason.
        if (c.own_line != nullptr) {
            EXPECT_EQ(std::string(c.own_line) + "\n", err);
        } else {
            EXPECT_NE(std::string::npos, err.find(last_error_message())) << err;
            EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
        }
        EXPECT_EQ(std::vector<double>(dim, kJunk), output);
    }
    // The next successful call clears the reason.
    std::vector<double> output(dim);
    encode_vector(kKey, "COSINE", 1, dim, input.data(), output.data());
    EXPECT_EQ(nullptr, last_error_message());
}

TEST(VectorExports, ZeroVectorAndEmptyDimension) {
    std::vector<double> zeros(3, 0.0), output(3, kJunk);
    encode_vector(kKey, "COSINE", 1, 3, zeros.data(), output.data());
    EXPECT_EQ(nullptr, last_error_message());
    for (const double x : output) EXPECT_TRUE(std::isnan(x));
    double untouched = kJunk;
    encode_vector(kKey, "COSINE", 1, 0, &untouched, &untouched);
    EXPECT_EQ(nullptr, last_error_message());
    EXPECT_EQ(kJunk, untouched);
}

}  // namespace
