#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "bits.h"
#include "transform/pelmo.h"
#include "transform/stages.h"

namespace {

using Pelmora::Pelmo;
using Pelmora::Vector;

constexpr double kRoundTripTolerance = 1e-12;  // relative to the vector's norm
const std::string kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";

Vector random_vector(std::mt19937_64& engine, int dim) {
    std::uniform_real_distribution<double> component(-1.0, 1.0);
    Vector v(dim);
    for (int i = 0; i < dim; ++i) v[i] = component(engine);
    return v;
}

TEST(VectorCodec, RoundTripsUnderBothProfilesAndMetrics) {
    const unsigned seed = 20261210;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 engine(seed);
    for (const int version : {1, 2}) {
        for (const char* space : {"COSINE", "L2", "INNER_PRODUCT"}) {
            for (const int dim : {2, 3, 4, 7, 16, 33, 128}) {
                SCOPED_TRACE(std::string(space) + " v" + std::to_string(version) + " dim " + std::to_string(dim));
                const Pelmo codec(kKey, space, version, dim);
                const Vector original = random_vector(engine, dim) * 5.0;
                Vector v = original;
                codec.encode_vector(v);
                EXPECT_GT((v - original).norm(), 1e-3 * original.norm());
                codec.decode_vector(v);
                EXPECT_LE((v - original).norm(), kRoundTripTolerance * original.norm());
            }
        }
    }
}

TEST(VectorCodec, EncodingIsDeterministicAndNoiseIsShared) {
    const Pelmo codec(kKey, "COSINE", 1, 6);
    Vector a = Vector::LinSpaced(6, 1.0, 6.0), b = a;
    codec.encode_vector(a);
    Pelmo(kKey, "COSINE", 1, 6).encode_vector(b);
    for (int i = 0; i < 6; ++i) EXPECT_SAME_BITS(a[i], b[i]);

    // Blending alone keeps the norm; every vector of one key gets the same noise.
    const Vector noise = Pelmora::noise_vector(Pelmora::parse_key_field(kKey, 0), codec.profile(), 6);
    EXPECT_GE(noise.norm(), 0.2 - 1e-15);
    EXPECT_LT(noise.norm(), 0.3);
    Vector x = Vector::LinSpaced(6, -2.0, 3.0);
    const double norm = x.norm();
    Pelmora::blend(x, noise);
    EXPECT_NEAR(norm, x.norm(), 1e-14 * norm);
    Pelmora::remove_noise(x, noise);
    EXPECT_LE((x - Vector::LinSpaced(6, -2.0, 3.0)).norm(), 1e-14 * norm);
}

TEST(VectorCodec, ZeroVectorEncodesToNaN) {
    Vector v = Vector::Zero(5);
    Pelmo(kKey, "COSINE", 2, 5).encode_vector(v);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(std::isnan(v[i]));
}

TEST(VectorCodec, DimensionOneEncodesButDoesNotDecode) {
    Vector v(1);
    v << 3.0;
    const Pelmo codec(kKey, "COSINE", 1, 1);
    codec.encode_vector(v);
    EXPECT_TRUE(std::isfinite(v[0]));
    EXPECT_THROW(codec.decode_vector(v), std::invalid_argument);
    Vector empty(0);
    Pelmo(kKey, "COSINE", 1, 0).encode_vector(empty);
    EXPECT_EQ(0, empty.size());
}

TEST(VectorCodec, BadNoiseFieldFailsBeforeEncodingAndAfterDecodingProducts) {
    const std::string key = "zzzz" + kKey.substr(4);
    const Pelmo codec(key, "COSINE", 1, 4);
    const Vector original = Vector::LinSpaced(4, 1.0, 4.0);
    Vector v = original;
    EXPECT_THROW(codec.encode_vector(v), std::invalid_argument);
    EXPECT_EQ(original, v);
    EXPECT_THROW(codec.decode_vector(v), std::invalid_argument);
    EXPECT_NE(original, v);  // multiplied by the inverse before field 0 is read
}

TEST(VectorCodec, WrongLengthIsRefusedUntouched) {
    const Pelmo codec(kKey, "COSINE", 1, 4);
    for (const int length : {0, 3, 5}) {
        SCOPED_TRACE(length);
        Vector v = Vector::Ones(length);
        EXPECT_THROW(codec.encode_vector(v), std::invalid_argument);
        EXPECT_THROW(codec.decode_vector(v), std::invalid_argument);
        EXPECT_EQ(Vector::Ones(length), v);
    }
}

}  // namespace
