#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bits.h"
#include "transform/utils.h"

namespace {

using Pelmora::Utils;
using Pelmora::Vector;

Vector vec(const std::vector<double>& values) {
    Vector v(static_cast<Eigen::Index>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) v[static_cast<Eigen::Index>(i)] = values[i];
    return v;
}

constexpr std::uint64_t kQuietNaN = 0x7FF8000000000000;
constexpr double kRounding = 1e-15;

enum class Want { exact, near, nan, failure };

struct Row {
    const char* name;
    std::vector<double> a;
    std::vector<double> b;
    const char* metric;
    Want want;
    double value = 0.0;          // exact and near
    std::string message{};       // failure
};

// The fixed sentence, then the name given (escaped) and the names there are.
std::string unknown_metric(const char* given) {
    return std::string("Invalid similarity metric. The metric name given is ") + given +
           "; the names are \"COSINE\", \"L2\" and \"INNER_PRODUCT\".";
}

TEST(Similarity, EdgeCases) {
    const Row rows[] = {
        {"length checked before the name", {1, 2}, {1, 2, 3}, "NOPE", Want::failure, 0,
         "Vector dimensions must match for similarity calculation."},
        {"length mismatch under COSINE", {1}, {}, "COSINE", Want::failure, 0,
         "Vector dimensions must match for similarity calculation."},
        {"lower-case name", {1, 2}, {3, 4}, "cosine", Want::failure, 0, unknown_metric(R"("cosine")")},
        {"trailing blank", {1, 2}, {3, 4}, "L2 ", Want::failure, 0, unknown_metric(R"("L2 ")")},
        {"empty name", {1, 2}, {3, 4}, "", Want::failure, 0, unknown_metric(R"("")")},
        {"a line break, escaped to keep one line", {1, 2}, {3, 4}, "L2\nx", Want::failure, 0,
         unknown_metric(R"("L2\nx")")},
        {"COSINE of a zero vector", {0, 0, 0}, {1, 2, 3}, "COSINE", Want::nan},
        {"COSINE of two empty vectors", {}, {}, "COSINE", Want::nan},
        {"COSINE where squares underflow", {1e-200, -1e-200}, {1, 1}, "COSINE", Want::nan},
        {"COSINE with itself", {0.3, -1.7, 2.9}, {0.3, -1.7, 2.9}, "COSINE", Want::near, 1.0},
        {"COSINE with its negation", {0.3, -1.7, 2.9}, {-0.3, 1.7, -2.9}, "COSINE", Want::near, -1.0},
        {"COSINE of orthogonal vectors", {1, 0}, {0, 5}, "COSINE", Want::exact, 0.0},
        {"L2 of two empty vectors", {}, {}, "L2", Want::exact, 0.0},
        {"L2 with itself", {0.1, 0.2, 0.3}, {0.1, 0.2, 0.3}, "L2", Want::exact, 0.0},
        {"L2 is the distance, not its square", {0, 0}, {3, 4}, "L2", Want::exact, 5.0},
        {"L2 of zero vectors", {0, 0}, {0, 0}, "L2", Want::exact, 0.0},
        {"INNER_PRODUCT of two empty vectors", {}, {}, "INNER_PRODUCT", Want::exact, 0.0},
        {"INNER_PRODUCT", {1, 2, 3}, {4, 5, 6}, "INNER_PRODUCT", Want::exact, 32.0},
        {"INNER_PRODUCT negative", {1, -2}, {3, 4}, "INNER_PRODUCT", Want::exact, -5.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Vector a = vec(row.a);
        const Vector b = vec(row.b);
        if (row.want == Want::failure) {
            try {
                Utils::calculate_similarity(a, b, row.metric);
                ADD_FAILURE() << "no failure";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(row.message, e.what());
            }
            continue;
        }
        // Every metric is symmetric, bit for bit.
        const double forward = Utils::calculate_similarity(a, b, row.metric);
        const double backward = Utils::calculate_similarity(b, a, row.metric);
        EXPECT_SAME_BITS(forward, backward);
        switch (row.want) {
            case Want::exact: EXPECT_SAME_BITS(row.value, forward); break;
            case Want::near: EXPECT_NEAR(row.value, forward, kRounding); break;
            case Want::nan: EXPECT_EQ(kQuietNaN, pel_test::bits(forward)) << pel_test::show(forward); break;
            case Want::failure: break;
        }
    }
}

}  // namespace
