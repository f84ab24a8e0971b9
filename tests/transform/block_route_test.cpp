// The codec multiplies and inverts the transform matrix block by block. Its
// results must be those of the sparse route bit for bit (any NaN for any NaN),
// and it must fail where that route fails, with the same exception and text.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "bits.h"
#include "seed.h"
#include "reference/sparse_route.h"
#include "transform/blocks.h"
#include "transform/pelmo.h"
#include "transform/stages.h"
#include "transform/tridiagonal.h"

namespace {

using Pelmora::Block;
using Pelmora::BlockMatrix;
using Pelmora::Pelmo;
using pel_test::test_seed;
using Pelmora::SparseMatrix;
using Pelmora::Vector;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();
const std::string kKeyOf16 = "7e41c09b2d5fa388";

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || pel_test::bits(a) == pel_test::bits(b); }

::testing::AssertionResult same_vectors(const Vector& expected, const Vector& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure() << "lengths " << expected.size() << " and " << actual.size();
    }
    for (Eigen::Index i = 0; i < expected.size(); ++i) {
        if (!same(expected[i], actual[i])) {
            return ::testing::AssertionFailure() << "component " << i << ": expected " << pel_test::show(expected[i])
                                                 << ", got " << pel_test::show(actual[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// Runs an operation on a copy of v: its result, or the exception it ended with.
struct Outcome {
    Vector v;
    std::string failure;  // "<type>: <what>", empty on success
};

Outcome run(const std::function<void(Vector&)>& operation, const Vector& v) {
    Outcome outcome{v, {}};
    try {
        operation(outcome.v);
    } catch (const std::exception& e) {
        outcome.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    return outcome;
}

// The vector is compared after a failure as well: both routes leave it in the
// same state (blended, or multiplied by the inverse, or untouched).
::testing::AssertionResult same_outcome(const Outcome& expected, const Outcome& actual) {
    if (expected.failure != actual.failure) {
        return ::testing::AssertionFailure() << "failure \"" << expected.failure << "\" vs \"" << actual.failure << "\"";
    }
    return same_vectors(expected.v, actual.v);
}

// Components of every kind the routes must agree on.
double component(std::mt19937_64& engine) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    switch (engine() % 16) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return kMinSubnormal * static_cast<double>(engine() % 1000) * (engine() % 2 ? 1 : -1);
        case 3: return unit(engine) * 1e300;
        case 4: return unit(engine) * 1e-300;
        case 5: return std::numeric_limits<double>::max() * (engine() % 2 ? 1 : -1);
        case 6: return std::ldexp(unit(engine), static_cast<int>(engine() % 2000) - 1000);
        default: return unit(engine);
    }
}

Vector random_vector(std::mt19937_64& engine, int length) {
    Vector v(length);
    const unsigned kind = engine() % 10;
    for (int i = 0; i < length; ++i) {
        if (kind == 0) {
            v[i] = 0.0;  // all zero: NaN through the noise
        } else if (kind <= 3) {
            v[i] = component(engine);
        } else {
            v[i] = std::uniform_real_distribution<double>(-1.0, 1.0)(engine);
        }
    }
    if (kind == 4 && length > 0) {
        const double specials[] = {kNaN, kInf, -kInf, 0.0, -0.0, kMinSubnormal};
        for (int n = 0; n < 3; ++n) v[engine() % length] = specials[engine() % 6];
    }
    return v;
}

std::string random_key(std::mt19937_64& engine) {
    static const char digits[] = "0123456789abcdefABCDEF";
    std::string key(16 + engine() % 49, '0');
    for (char& c : key) c = digits[engine() % 22];
    switch (engine() % 20) {
        case 0: key.resize(engine() % 16); break;  // a field runs out
        case 1: key[engine() % 16] = "z -+xX\t"[engine() % 7]; break;
        case 2: key.replace(4 * (engine() % 4), 4, engine() % 2 ? "zzzz" : " -0x"); break;
        default: break;
    }
    return key;
}

int random_dim(std::mt19937_64& engine) {
    switch (engine() % 40) {
        case 0: return -1 - static_cast<int>(engine() % 3);
        case 1: return 601 + static_cast<int>(engine() % 1448);
        case 2: case 3: case 4: return 131 + static_cast<int>(engine() % 470);
        default: return engine() % 3 == 0 ? 17 + static_cast<int>(engine() % 114) : static_cast<int>(engine() % 17);
    }
}

TEST(BlockRoute, MatchesSparseRouteOnRandomCalls) {
    std::mt19937_64 engine(test_seed(20261210));
    const char* const spaces[] = {"COSINE", "L2", "INNER_PRODUCT", "cosine", ""};
    const int versions[] = {1, 2, 1, 2, 1, 2, 0, 3};
    for (int round = 0; round < 3000; ++round) {
        const std::string key = random_key(engine);
        const char* space = spaces[engine() % 5];
        const int version = versions[engine() % 8];
        const int dim = random_dim(engine);
        const int length = engine() % 30 == 0 ? std::max(0, dim + static_cast<int>(engine() % 3) - 1) : std::max(dim, 0);
        SCOPED_TRACE("round " + std::to_string(round) + ": key \"" + key + "\" " + space + " v" +
                     std::to_string(version) + " dim " + std::to_string(dim) + " length " + std::to_string(length));
        testing::internal::CaptureStderr();  // "Invalid version number"
        const Pelmo codec(key, space, version, dim);
        testing::internal::GetCapturedStderr();

        const Vector input = random_vector(engine, length);
        const Outcome encoded = run([&](Vector& v) { pel_reference::encode_vector(codec, v); }, input);
        ASSERT_TRUE(same_outcome(encoded, run([&](Vector& v) { codec.encode_vector(v); }, input))) << "encoding";

        // Decoding a real encoding and, as often, arbitrary input.
        const Vector to_decode = encoded.failure.empty() && engine() % 2 ? encoded.v : random_vector(engine, length);
        ASSERT_TRUE(same_outcome(run([&](Vector& v) { pel_reference::decode_vector(codec, v); }, to_decode),
                                 run([&](Vector& v) { codec.decode_vector(v); }, to_decode)))
            << "decoding";
    }
}

TEST(BlockRoute, MatrixIsTheSparseProductsEntryForEntry) {
    // Every combination of stages, not only the two profiles', so that each
    // column of the block formula is held to the sparse products; and shear
    // ranges that do not start at +0.0, which take the fused draw.
    std::mt19937_64 engine(test_seed(77));
    for (int stages = 0; stages < 32; ++stages) {
        Pelmora::Profile profile = Pelmora::kProfile1;
        profile.scale_enabled = stages & 1;
        profile.shear_enabled = stages & 2;
        profile.rotation_enabled = stages & 4;
        const double shear_ranges[4][2] = {{0.0, 0.2}, {0.05, 0.2}, {-0.0, 0.1}, {-0.3, -0.1}};
        profile.shear_min = shear_ranges[stages >> 3][0];
        profile.shear_max = shear_ranges[stages >> 3][1];
        for (const int dim : {0, 1, 2, 3, 4, 5, 8, 33, 256}) {
            const std::string key = random_key(engine).substr(0, 16) + std::string(16, '0');
            SCOPED_TRACE("stages " + std::to_string(stages) + " dim " + std::to_string(dim) + " key " + key);
            SparseMatrix expected;
            try {
                expected = Pelmora::build_matrix(key, dim, profile, Pelmora::ShearPattern::even_rows);
            } catch (const std::exception&) {
                EXPECT_ANY_THROW(Pelmora::transform_seeds(key, dim));
                continue;
            }
            const Pelmora::TransformSeeds seeds = Pelmora::transform_seeds(key, dim);
            const SparseMatrix actual = BlockMatrix::from_seeds(seeds, dim, profile).to_sparse();
            ASSERT_EQ(expected.nonZeros(), actual.nonZeros());
            for (int j = 0; j < dim; ++j) {
                SparseMatrix::InnerIterator e(expected, j), a(actual, j);
                for (; e && a; ++e, ++a) {
                    ASSERT_EQ(e.row(), a.row()) << "column " << j;
                    EXPECT_SAME_BITS(e.value(), a.value());
                }
                ASSERT_EQ(bool(e), bool(a)) << "column " << j;
            }
        }
    }
}

// Blocks the transform never makes: entries that are zero, not stored, tiny,
// huge or not finite, and pivots that vanish. Multiplying must skip exactly the
// entries the sparse form does not store, and inverting must give the column
// solves' bits, through their route wherever the block solve meets a value that
// is not finite.
TEST(BlockRoute, HandMadeBlocksMultiplyAndInvertLikeTheSparseForm) {
    std::mt19937_64 engine(test_seed(4242));
    for (int round = 0; round < 20000; ++round) {
        const int dim = 2 + static_cast<int>(engine() % 7);
        std::vector<Block> blocks(static_cast<std::size_t>(dim / 2));
        for (Block& b : blocks) {
            b.stored = static_cast<std::uint8_t>(engine() % 4 == 0 ? engine() % 16 : Block::kAll);
            double* entries[] = {&b.pp, &b.qp, &b.pq, &b.qq};
            for (int e = 0; e < 4; ++e) {
                *entries[e] = (b.stored >> e) & 1 ? (engine() % 3 == 0 ? component(engine) : 0.5 + engine() % 4) : 0.0;
            }
        }
        Block last;
        if (dim % 2 == 1 && engine() % 5 != 0) {
            last.pp = engine() % 4 == 0 ? component(engine) : 1.5;
            last.stored = Block::kPP;
        }  // else the 1x1 block's entry is not stored: it must read as +0.0, never as 0 * x
        const BlockMatrix m(dim, blocks, last);
        const SparseMatrix sparse = m.to_sparse();
        const Vector v = random_vector(engine, dim);
        SCOPED_TRACE("round " + std::to_string(round) + " dim " + std::to_string(dim));

        Vector by_blocks = v;
        m.apply(by_blocks);
        ASSERT_TRUE(same_vectors(Pelmora::multiply(sparse, v), by_blocks)) << "product";

        Vector decoded = v;
        Pelmora::InverseTransform(m).apply(decoded);
        ASSERT_TRUE(same_vectors(Pelmora::multiply(Pelmora::invert_by_columns(sparse), v), decoded)) << "inverse";
    }
}

// The codec's own profiles always give a matrix whose blocks invert; zero,
// infinite or NaN scale factors do not, and there the inverse drawn block by
// block must fall back to the column solves of the whole matrix. Tiny factors
// (inverse entries near 1e300) and the codec's own range stay in blocks. The
// inverse and the product are held to the sparse route, whose matrix is built
// by sparse products.
TEST(BlockRoute, DrawnInverseFallsBackToTheColumnSolves) {
    std::mt19937_64 engine(test_seed(99));
    const struct {
        double scale_min, scale_max;
        bool falls_back;
    } cases[] = {
        {0.0, 0.0, true}, {kInf, kInf, true}, {kNaN, 1.0, true}, {1e-300, 2e-300, false}, {0.9, 1.1, false},
    };
    for (const auto& c : cases) {
        for (const int dim : {2, 3, 6, 9}) {
            SCOPED_TRACE("scale range " + pel_test::show(c.scale_min) + " to " + pel_test::show(c.scale_max) +
                         ", dim " + std::to_string(dim));
            Pelmora::Profile profile = Pelmora::kProfile1;
            profile.scale_min = c.scale_min;
            profile.scale_max = c.scale_max;
            const Pelmora::TransformSeeds seeds = Pelmora::transform_seeds(kKeyOf16, dim);
            const SparseMatrix sparse =
                Pelmora::build_matrix(kKeyOf16, dim, profile, Pelmora::ShearPattern::even_rows);
            const Vector v = random_vector(engine, dim);

            const Pelmora::InverseTransform inverse(seeds, dim, profile);
            EXPECT_EQ(c.falls_back, !inverse.in_blocks());
            Vector drawn = v;
            inverse.apply(drawn);
            ASSERT_TRUE(same_vectors(Pelmora::multiply(Pelmora::invert_by_columns(sparse), v), drawn));

            Vector streamed = v;
            Pelmora::apply_transform(seeds, dim, profile, streamed);
            ASSERT_TRUE(same_vectors(Pelmora::multiply(sparse, v), streamed));
        }
    }
}

// A hand-made matrix must have one block per pair: anything else would read or
// write past the blocks it has.
TEST(BlockRoute, HandMadeMatrixNeedsOneBlockPerPair) {
    const struct {
        int dim;
        std::size_t blocks;
        bool valid;
    } cases[] = {{0, 0, true}, {5, 2, true}, {6, 3, true}, {-1, 0, false}, {3, 0, false}, {4, 1, false}, {4, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("dim " + std::to_string(c.dim) + ", " + std::to_string(c.blocks) + " blocks");
        const auto make = [&] { return BlockMatrix(c.dim, std::vector<Block>(c.blocks), Block()); };
        if (c.valid) {
            EXPECT_NO_THROW(make());
        } else {
            EXPECT_THROW(make(), std::invalid_argument);
        }
    }
}

}  // namespace
