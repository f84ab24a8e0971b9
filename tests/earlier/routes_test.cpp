// The earlier codec's O(dim) routes against its dense route: encoding must give
// the dense product's bits, and fail where it fails; decoding must fail where
// the dense LU inverse fails, and round-trip at least as accurately (level
// with it at the smallest dimensions).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "bits.h"
#include "earlier/pelmo.h"
#include "earlier/products.h"
#include "reference/earlier_dense_route.h"
#include "seed.h"
#include "transform/rounding.h"

namespace {

using pel_reference::Dense;
using pel_test::test_seed;
using Pelmora::SparseMatrix;
using Pelmora::Vector;

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();
const std::string kKey = "9f3e77a1c05b2d68";

// The panel boundaries of the dense product: all columns in one panel below
// 128, panels of 16 from there, of 4 from 4000.
constexpr int kDims[] = {0, 1, 2, 3, 4, 5, 16, 17, 127, 128, 129, 143, 144, 255, 256, 3999, 4000, 4001};

::testing::AssertionResult same_bits(const Vector& expected, const Vector& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure() << "lengths " << expected.size() << " and " << actual.size();
    }
    Eigen::Index differing = 0;
    Eigen::Index first = -1;
    for (Eigen::Index i = 0; i < expected.size(); ++i) {
        if (pel_test::bits(expected[i]) != pel_test::bits(actual[i])) {
            if (differing++ == 0) first = i;
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " of " << expected.size() << " components differ, first "
                                         << first << ": expected " << pel_test::show(expected[first]) << ", got "
                                         << pel_test::show(actual[first]);
}

// Vectors whose sums go wrong in different ways if the order is not the
// dense product's.
struct Kind {
    const char* name;
    std::function<double(std::mt19937_64&)> component;
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> list = {
        {"uniform", [](std::mt19937_64& g) { return std::uniform_real_distribution<double>(-1.0, 1.0)(g); }},
        // Signed zeros, subnormals and normal numbers side by side.
        {"signed zeros and subnormals",
         [](std::mt19937_64& g) {
             const double choices[] = {0.0, -0.0, kMinSubnormal, -3 * kMinSubnormal, 0x1p-1060, -0x1p-1030, 0.5};
             return choices[g() % 7];
         }},
        // Products and sums overflow to infinities, and infinities of both
        // signs meet: NaN.
        {"huge", [](std::mt19937_64& g) { return std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(g), 1023); }},
        // Products fall into the subnormals and lose bits.
        {"tiny", [](std::mt19937_64& g) { return std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(g), -1020); }},
        // Any exponent: sums where one term swamps the rest.
        {"any exponent",
         [](std::mt19937_64& g) {
             const double m = std::uniform_real_distribution<double>(-1.0, 1.0)(g);
             return std::ldexp(m, static_cast<int>(g() % 2000) - 1000);
         }},
    };
    return list;
}

Vector make_vector(const Kind& kind, int dim, std::mt19937_64& g) {
    Vector v(dim);
    for (int i = 0; i < dim; ++i) v[i] = kind.component(g);
    return v;
}

// A matrix of the transform's shape (an odd row reaches from column i-1 to
// i+2) with entries of any sign and size, a stored zero among them now and
// then: the kernel must not rely on the key-derived values.
SparseMatrix band_matrix(int dim, std::mt19937_64& g) {
    std::vector<Eigen::Triplet<double, int>> entries;
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    for (int i = 0; i < dim; ++i) {
        const int first = i % 2 == 1 ? i - 1 : i;
        const int last = std::min(dim - 1, i % 2 == 1 ? i + 2 : i + 1);
        for (int j = first; j <= last; ++j) {
            entries.emplace_back(i, j, g() % 16 == 0 ? 0.0 : std::ldexp(value(g), static_cast<int>(g() % 9) - 4));
        }
    }
    SparseMatrix m(dim, dim);
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

TEST(DenseOrderProduct, HasTheBitsOfTheDenseProductAtEveryPanelBoundary) {
    std::mt19937_64 g(test_seed(260001));
    for (const int dim : kDims) {
        const SparseMatrix matrices[] = {Pelmo(kKey, dim).get_matrix(), band_matrix(dim, g)};
        for (const SparseMatrix& m : matrices) {
            const Dense dense(m);
            const Pelmora::RowMatrix rows(m);
            for (const Kind& kind : kinds()) {
                SCOPED_TRACE("dim " + std::to_string(dim) + (&m == matrices ? ", transform matrix, " : ", band matrix, ") +
                             kind.name);
                const Vector v = make_vector(kind, dim, g);
                EXPECT_TRUE(same_bits(pel_reference::dense_product(dense, v), Pelmora::dense_order_product(rows, v)));
            }
        }
    }
}

// The rows the encoding multiplies by are the sparse build's matrix, entry
// for entry and bit for bit, stored where it stores them.
TEST(TransformRows, AreTheSparseBuildsMatrix) {
    std::mt19937_64 g(test_seed(260004));
    std::vector<std::string> keys = {kKey, "0000000000000000", "-fff12ab-0017fff", "ffffffffffffffff"};
    for (int k = 0; k < 12; ++k) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(g()));
        keys.push_back(text);
    }
    std::vector<int> dims(kDims, kDims + sizeof kDims / sizeof kDims[0]);
    for (int dim = 6; dim <= 15; ++dim) dims.push_back(dim);
    for (const std::string& key : keys) {
        for (const int dim : dims) {
            SCOPED_TRACE(key + ", dim " + std::to_string(dim));
            const Pelmo codec(key, dim);
            const Pelmora::RowMatrix expected(codec.get_matrix());
            const Pelmora::RowMatrix rows = Pelmora::transform_rows(
                Pelmora::transform_factors(key, dim, codec.profile(), Pelmora::ShearPattern::every_row));
            ASSERT_EQ(expected.nonZeros(), rows.nonZeros());
            for (int i = 0; i < dim; ++i) {
                Pelmora::RowMatrix::InnerIterator e(expected, i), r(rows, i);
                for (; e && r; ++e, ++r) {
                    ASSERT_EQ(e.index(), r.index()) << "row " << i;
                    ASSERT_EQ(pel_test::bits(e.value()), pel_test::bits(r.value()))
                        << "(" << i << ", " << e.index() << "): " << pel_test::show(e.value()) << " vs "
                        << pel_test::show(r.value());
                }
                ASSERT_FALSE(e || r) << "row " << i;
            }
        }
    }
}

// Runs a route on a copy of v: its result, or the exception it ended with.
struct Outcome {
    Vector v;
    std::string failure;  // "<type>: <what>", empty on success
};

Outcome run(const std::function<Vector(Vector)>& route, const Vector& v) {
    try {
        return {route(v), {}};
    } catch (const std::exception& e) {
        return {Vector(), std::string(typeid(e).name()) + ": " + e.what()};
    }
}

TEST(EarlierEncode, GivesTheDenseRoutesBitsAndFailures) {
    std::mt19937_64 g(test_seed(260002));
    struct Case {
        std::string name;
        std::string key;
        int dim;
        Vector v;
    };
    std::vector<Case> cases;
    for (const std::string& key : {kKey, std::string("0000000000000000"), std::string("-fff12ab-0017fff")}) {
        for (const int dim : kDims) {
            if (dim > 256 && key != kKey) continue;
            for (const Kind& kind : kinds()) {
                cases.push_back({key + " " + kind.name, key, dim, make_vector(kind, dim, g)});
            }
        }
    }
    // Blended vectors that are not finite, where the dense product itself
    // gives the bits: a NaN or an infinity in the input, a norm that
    // overflows, one that underflows to zero, the zero vector.
    for (const int dim : {1, 2, 5, 17, 129}) {
        Vector nan = Vector::Constant(dim, 0.25), inf = nan;
        nan[dim / 2] = kNaN;
        inf[dim - 1] = -kInf;
        cases.push_back({"NaN", kKey, dim, nan});
        cases.push_back({"infinity", kKey, dim, inf});
        cases.push_back({"norm overflows", kKey, dim, Vector::Constant(dim, 0x1p1000)});
        cases.push_back({"norm underflows", kKey, dim, Vector::Constant(dim, 0x1p-1000)});
        cases.push_back({"zeros", kKey, dim, Vector::Zero(dim)});
    }
    // Failures, in the order the checks come.
    cases.push_back({"bad noise field", "zzzz77a1c05b2d68", 4, Vector::Ones(4)});
    cases.push_back({"bad noise field before the dimension", "zzzz77a1c05b2d68", -1, Vector()});
    cases.push_back({"negative dimension", kKey, -3, Vector()});
    cases.push_back({"length differs", kKey, 4, Vector::Ones(5)});
    cases.push_back({"bad rotation field after blending", "9f3e77a1c05bzzzz", 4, Vector::Ones(4)});
    cases.push_back({"short key", "9f3e77a1c05", 4, Vector::Ones(4)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + ", dim " + std::to_string(c.dim));
        const Pelmo codec(c.key, c.dim);
        const Outcome expected = run([&](Vector v) { return pel_reference::earlier_encode(codec, v); }, c.v);
        const Outcome actual = run([&](Vector v) { return codec.encode(v); }, c.v);
        EXPECT_EQ(expected.failure, actual.failure);
        EXPECT_TRUE(same_bits(expected.v, actual.v));
    }
}

TEST(EarlierDecode, FailsWhereTheDenseRouteFails) {
    struct Case {
        const char* name;
        std::string key;
        int dim;
        int length;
    };
    const Case cases[] = {
        {"dim 0", kKey, 0, 0},
        {"negative dim", kKey, -2, 0},
        {"length differs", kKey, 4, 3},
        // Fields 1 to 3 come before the dimension and the length, field 0 only
        // after the products.
        {"bad scale field before dim 0", "9f3ezzzzc05b2d68", 0, 0},
        {"bad rotation field before the length", "9f3e77a1c05bzzzz", 4, 3},
        {"key ends in field 3", "zzzz77a1c05", 4, 4},
        {"bad noise field after the products", "zzzz77a1c05b2d68", 4, 4},
        {"bad noise field, dim 1", "zzzz77a1c05b2d68", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Pelmo codec(c.key, c.dim);
        const Vector v = Vector::Constant(c.length, 0.5);
        const Outcome expected = run([&](Vector w) { return pel_reference::earlier_decode(codec, w); }, v);
        const Outcome actual = run([&](Vector w) { return codec.decode(w); }, v);
        EXPECT_FALSE(expected.failure.empty());
        EXPECT_EQ(expected.failure, actual.failure);
    }
}

// An input that is not finite, or whose values overflow on the way, decodes
// to NaN in every component on both routes: the noise removal divides by a
// norm that is not finite.
TEST(EarlierDecode, NonFiniteInputGivesNaNEverywhereLikeTheDenseRoute) {
    for (const int dim : {1, 2, 3, 8, 33}) {
        Vector nan = Vector::Constant(dim, 0.25), inf = nan;
        nan[0] = kNaN;
        inf[dim - 1] = kInf;
        for (const Vector& v : {nan, inf}) {
            SCOPED_TRACE("dim " + std::to_string(dim));
            const Pelmo codec(kKey, dim);
            const Vector dense = pel_reference::earlier_decode(codec, v);
            const Vector factors = codec.decode(v);
            ASSERT_EQ(dim, factors.size());
            for (int i = 0; i < dim; ++i) {
                EXPECT_TRUE(std::isnan(dense[i]));
                EXPECT_TRUE(std::isnan(factors[i]));
            }
        }
    }
}

// ||a - b|| / ||x|| in units of eps, summed in long double.
double distance(const Vector& a, const Vector& b, const Vector& x) {
    long double difference = 0.0L;
    long double norm = 0.0L;
    for (Eigen::Index i = 0; i < x.size(); ++i) {
        const long double d = static_cast<long double>(a[i]) - b[i];
        difference += d * d;
        norm += static_cast<long double>(x[i]) * x[i];
    }
    return static_cast<double>(std::sqrt(difference / norm) / kEps);
}

double mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (const double x : values) sum += x;
    return sum / static_cast<double>(values.size());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The two decodings of one encoding differ by the roundings of either route
// (observed below 4 eps of the norm up to dimension 4096).
constexpr double kRoutesAgree = 16.0;  // in eps, normwise
// A round trip through the factors loses a few eps of the norm in blending,
// the matrix product, the inverse and the noise removal together (observed
// below 4 eps up to dimension 4096).
constexpr double kRoundTripBound = 16.0;  // in eps, normwise
// Up to a few pairs of coordinates the two routes are level. The dense route
// inverts the rounded entries the encoding multiplied by, the factors invert
// D * S * R itself, and there the few roundings of the dense inverse cost no
// more than that difference: their medians and means differ by a few
// hundredths of an eps either way (under separate rounding, whose entries are
// rounded most, the factors trail by about 0.05 at two coordinates). From 16
// coordinates on the factors are ahead.
constexpr double kLevel = 0.1;  // in eps
constexpr int kAheadFrom = 16;

TEST(EarlierDecode, FactorRouteIsAtLeastAsAccurateAsTheDenseInverse) {
    std::mt19937_64 g(test_seed(260003));
    // Fixed keys (negative fields among them) and, where a dense inverse is
    // cheap, keys drawn from the seed.
    std::vector<std::string> keys = {kKey, "0000000000000000", "7e41c09b2d5fa388", "-fff12ab-0017fff"};
    std::vector<std::string> many_keys = keys;
    for (int k = 0; k < 28; ++k) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(g()));
        many_keys.push_back(text);
    }
    struct Size {
        int dim;
        const std::vector<std::string>* keys;
        int vectors;  // per key
    };
    const std::vector<std::string> one_key = {kKey};
    // A dense inverse serves every vector of its key, and a product with it
    // costs dim^2: large dimensions take few keys and many vectors.
    const Size sizes[] = {{2, &many_keys, 64},  {3, &many_keys, 64},  {4, &many_keys, 64}, {5, &many_keys, 64},
                          {8, &many_keys, 32},  {17, &many_keys, 32}, {64, &many_keys, 16}, {129, &keys, 64},
                          {255, &keys, 64},     {601, &keys, 64},     {1536, &keys, 32},    {4096, &one_key, 64}};
    std::cout << "dimensions up to " << PEL_LARGEST_DENSE_INVERSE << " (PEL_LARGEST_DENSE_INVERSE)\n";
    std::cout << (Pelmora::rounding::fused ? "fused" : "unfused")
              << " rounding: normwise round-trip error in eps, factors against the dense inverse\n"
              << "   dim  vectors  median factors  median dense  mean factors  mean dense  max factors  max dense"
                 "  max factors-dense\n";
    for (const Size& size : sizes) {
        if (size.dim > PEL_LARGEST_DENSE_INVERSE) continue;
        std::vector<double> factor_errors, dense_errors;
        double widest_gap = 0.0;
        for (const std::string& key : *size.keys) {
            SCOPED_TRACE(key + ", dim " + std::to_string(size.dim));
            const Pelmo codec(key, size.dim);
            const Dense inverse = pel_reference::dense_matrix(codec).inverse();
            for (int n = 0; n < size.vectors; ++n) {
                const Vector x = make_vector(kinds()[0], size.dim, g);
                const Vector encoded = codec.encode(x);
                const Vector by_factors = codec.decode(encoded);
                const Vector dense = pel_reference::finish_dense_decode(codec, inverse, encoded);
                factor_errors.push_back(distance(by_factors, x, x));
                dense_errors.push_back(distance(dense, x, x));
                widest_gap = std::max(widest_gap, distance(by_factors, dense, x));
            }
        }
        const double median_factors = median(factor_errors);
        const double median_dense = median(dense_errors);
        const double mean_factors = mean(factor_errors);
        const double mean_dense = mean(dense_errors);
        const double max_factors = *std::max_element(factor_errors.begin(), factor_errors.end());
        const double max_dense = *std::max_element(dense_errors.begin(), dense_errors.end());
        std::cout << std::setw(6) << size.dim << std::setw(9) << factor_errors.size() << std::fixed
                  << std::setprecision(2) << std::setw(16) << median_factors << std::setw(14) << median_dense
                  << std::setw(14) << mean_factors << std::setw(12) << mean_dense << std::setw(13) << max_factors
                  << std::setw(11) << max_dense << std::setw(19) << widest_gap << std::defaultfloat << '\n';
        SCOPED_TRACE("dim " + std::to_string(size.dim));
        const double slack = size.dim < kAheadFrom ? kLevel : 0.0;
        EXPECT_LE(median_factors, median_dense + slack);
        EXPECT_LE(mean_factors, mean_dense + slack);
        EXPECT_LE(max_factors, kRoundTripBound);
        EXPECT_LE(widest_gap, kRoutesAgree);
    }
}

}  // namespace
