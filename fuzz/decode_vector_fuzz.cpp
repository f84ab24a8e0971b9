// Exported decode_vector (and encode_vector) with key, version, dimension and
// data from the fuzzer.
//
// Input: byte 0: bits 0-1 metric name, bits 2-4 version; byte 1: dimension as a
// signed byte, bounded to -64..64; byte 2: key length (0-71); the key's bytes;
// then `dim` doubles as bit patterns.
//
// Each function runs twice, into a separate array and in place; both runs must
// agree bit for bit, a failure must leave the output as it was and report a
// reason, and a success must report none. Beneath the exports, the codec's
// block route must give what the sparse route gives, bit for bit (any NaN for
// any NaN), or fail with the same text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/record_checks.h"
#include "pel_arm64.h"
#include "reference/sparse_route.h"
#include "transform/pelmo.h"

using namespace pel_fuzz;

namespace {

using VectorFunction = void (*)(const char*, const char*, int, int, const double*, double*);

const char* const kVectorSpaces[4] = {"COSINE", "L2", "INNER_PRODUCT", ""};

// A pattern no computation writes by chance: a NaN with a payload.
constexpr std::uint64_t kUnwritten = 0x7ff4deadbeef1234ull;

HeapDoubles unwritten(std::size_t n) {
    double x;
    std::memcpy(&x, &kUnwritten, sizeof x);
    return HeapDoubles(std::vector<double>(n, x));
}

void check(const char* name, VectorFunction function, const std::string& key, const char* space, int version,
           int dim, const std::vector<double>& values) {
    const HeapDoubles input(values);
    HeapDoubles output = unwritten(values.size());
    function(key.c_str(), space, version, dim, input.data(), output.data());
    const char* reason = last_error_message();
    const bool failed = reason != nullptr;
    const std::string why = failed ? reason : "";
    if (failed) {
        check_reason(reason);
        PEL_FUZZ_CHECK(output.same_bits(unwritten(values.size())), std::string(name) + " failed and wrote: " + why);
    }

    HeapDoubles in_place(values);
    function(key.c_str(), space, version, dim, in_place.data(), in_place.data());
    reason = last_error_message();
    PEL_FUZZ_CHECK((reason != nullptr) == failed, std::string(name) + ": in place differs in failing: " + why);
    if (failed) {
        PEL_FUZZ_CHECK(why == reason, std::string(name) + ": " + why + " / " + reason);
        PEL_FUZZ_CHECK(in_place.same_bits(input), std::string(name) + " failed in place and wrote: " + why);
    } else {
        PEL_FUZZ_CHECK(in_place.same_bits(output), std::string(name) + ": in place gives other bits");
    }
}

// The result of one route: the vector, or the text it failed with.
template <class Route>
std::pair<Pelmora::Vector, std::string> run_route(Route route, const std::vector<double>& values) {
    Pelmora::Vector v = Eigen::Map<const Pelmora::Vector>(values.data(), static_cast<Eigen::Index>(values.size()));
    try {
        route(v);
        return {v, ""};
    } catch (const std::exception& e) {
        return {v, e.what()};
    }
}

bool same_vector(const Pelmora::Vector& a, const Pelmora::Vector& b) {
    if (a.size() != b.size()) return false;
    for (Eigen::Index i = 0; i < a.size(); ++i) {
        const bool both_nan = std::isnan(a[i]) && std::isnan(b[i]);
        if (!both_nan && std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    }
    return true;
}

void compare_routes(const std::string& key, const char* space, int version, int dim,
                    const std::vector<double>& values) {
    if (version != 1 && version != 2) {
        return;  // no profile: the exports refuse the call before any transform
    }
    const Pelmora::Pelmo codec(key, space, version, dim);
    for (const bool decoding : {false, true}) {
        const auto block = run_route(
            [&](Pelmora::Vector& v) { decoding ? codec.decode_vector(v) : codec.encode_vector(v); }, values);
        const auto sparse = run_route(
            [&](Pelmora::Vector& v) {
                decoding ? pel_reference::decode_vector(codec, v) : pel_reference::encode_vector(codec, v);
            },
            values);
        const std::string what = decoding ? "decoding" : "encoding";
        PEL_FUZZ_CHECK(block.second == sparse.second, what + ": \"" + block.second + "\" vs \"" + sparse.second + "\"");
        PEL_FUZZ_CHECK(same_vector(block.first, sparse.first), what + ": the routes give other bits");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::uint8_t a = in.byte();
    const char* space = kVectorSpaces[a & 3];
    const int version = kVersions[(a >> 2) & 7];
    const int dim = static_cast<std::int8_t>(in.byte()) % 65;
    const std::string key = in.text(in.byte() % 72);
    const std::vector<double> values = in.reals(dim);

    check("decode_vector", decode_vector, key, space, version, dim, values);
    check("encode_vector", encode_vector, key, space, version, dim, values);
    compare_routes(key, space, version, dim, values);
    return 0;
}
