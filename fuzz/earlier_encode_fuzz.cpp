// The earlier codec's encoding against its dense route (pellib's rounding).
//
// Input: byte 0: the dimension: below 0x80 the byte itself (0-127), else one
// of the panel boundaries up to 256; byte 1: bit 0 set takes the matrix's
// entries from the input instead of a key; byte 2: how many vector components
// follow (1-32), then that many doubles, then the key's 16 characters, then
// the rest of the input as doubles for the matrix's entries (up to 64). The
// vector and the entries repeat what the input gives. The boundaries from
// 3999 on (panels of 4) are left to the tests: a dense matrix of that size
// costs this target a second a case, and it would run a hundred times fewer.
//
// The O(dim) product must give the bits of Eigen's dense product for every
// finite vector; the codec must give the dense route's bits (a blended vector
// that is not finite included) or fail with its text, and decoding must fail
// where the dense route fails.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "earlier/pelmo.h"
#include "earlier/products.h"
#include "fuzz/fuzz_support.h"
#include "reference/earlier_dense_route.h"

using namespace pel_fuzz;
using Pelmora::SparseMatrix;
using Pelmora::Vector;

namespace {

constexpr int kBoundaries[] = {127, 128, 129, 143, 144, 255, 256};
// Dense decoding costs dim^3: beyond this the fuzzer would only wait.
constexpr int kLargestDenseDecode = 64;

std::string bits_of(const Vector& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), static_cast<std::size_t>(v.size()) * sizeof(double));
}

Vector repeated(const std::vector<double>& values, int dim) {
    Vector v = Vector::Zero(dim);
    for (int i = 0; i < dim && !values.empty(); ++i) v[i] = values[static_cast<std::size_t>(i) % values.size()];
    return v;
}

// The transform matrix's shape (an odd row reaches from column i-1 to i+2),
// its entries from the input in order.
SparseMatrix band_matrix(int dim, const std::vector<double>& values) {
    std::vector<Eigen::Triplet<double, int>> entries;
    std::size_t next = 0;
    for (int i = 0; i < dim; ++i) {
        const int first = i % 2 == 1 ? i - 1 : i;
        const int last = i % 2 == 1 ? i + 2 : i + 1;
        for (int j = first; j <= last && j < dim; ++j) {
            entries.emplace_back(i, j, values.empty() ? 1.0 : values[next++ % values.size()]);
        }
    }
    SparseMatrix m(dim, dim);
    m.setFromTriplets(entries.begin(), entries.end());
    return m;
}

bool finite(const Vector& v) {
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        if (!std::isfinite(v[i])) return false;
    }
    return true;
}

template <class Route>
std::string outcome(Route route, const Vector& v) {
    try {
        return "ok " + bits_of(route(v));
    } catch (const std::exception& e) {
        return std::string("failed: ") + e.what();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::uint8_t d = in.byte();
    const int dim = d < 0x80 ? d : kBoundaries[(d & 0x7f) % (sizeof kBoundaries / sizeof kBoundaries[0])];
    const bool own_entries = (in.byte() & 1) != 0;
    const std::vector<double> components = in.reals(in.byte() % 32 + 1);
    const std::string key = in.text(16);
    const std::string rest = in.rest();
    std::vector<double> entries(std::min<std::size_t>(rest.size() / sizeof(double), 64));
    if (!entries.empty()) std::memcpy(entries.data(), rest.data(), entries.size() * sizeof(double));
    const Vector v = repeated(components, dim);

    const Pelmo codec(key, dim);
    if (own_entries) {
        if (!finite(v)) return 0;  // the product is taken only for finite vectors
        const SparseMatrix m = band_matrix(dim, entries);
        const Vector dense = pel_reference::dense_product(pel_reference::Dense(m), v);
        PEL_FUZZ_CHECK(bits_of(dense) == bits_of(Pelmora::dense_order_product(Pelmora::RowMatrix(m), v)),
                       "dim " + std::to_string(dim) + ": the O(dim) product differs from the dense product");
        return 0;
    }
    const std::string expected = outcome([&](const Vector& x) { return pel_reference::earlier_encode(codec, x); }, v);
    const std::string actual = outcome([&](const Vector& x) { return codec.encode(x); }, v);
    PEL_FUZZ_CHECK(expected == actual, "dim " + std::to_string(dim) + ", key \"" + key +
                                           "\": encoding differs from the dense route (" + expected.substr(0, 80) +
                                           " / " + actual.substr(0, 80) + ")");
    if (dim <= kLargestDenseDecode) {
        const auto failure = [](const std::string& text) { return text.rfind("failed: ", 0) == 0 ? text : "ok"; };
        const std::string dense =
            failure(outcome([&](const Vector& x) { return pel_reference::earlier_decode(codec, x); }, v));
        const std::string factors = failure(outcome([&](const Vector& x) { return codec.decode(x); }, v));
        PEL_FUZZ_CHECK(dense == factors, "dim " + std::to_string(dim) + ": decoding fails otherwise: " + dense +
                                             " / " + factors);
    }
    return 0;
}
