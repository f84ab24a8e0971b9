// Exported decode_vector (and encode_vector) with key, version, dimension and
// data from the fuzzer.
//
// Input: byte 0: bits 0-1 metric name, bits 2-4 version; byte 1: dimension as a
// signed byte, bounded to -64..64; byte 2: key length (0-71); the key's bytes;
// then `dim` doubles as bit patterns.
//
// Each function runs twice, into a separate array and in place; both runs must
// agree bit for bit, a failure must leave the output as it was and report a
// reason, and a success must report none.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/record_checks.h"
#include "pel_arm64.h"

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
    return 0;
}
