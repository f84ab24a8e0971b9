// Exported decode on record-set text and a query from the fuzzer.
//
// Input: two bytes of arguments (fuzz_support.h, read_record_call), then `dim`
// doubles of query (8 bytes each, as bit patterns), then the record-set text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/record_checks.h"
#include "pel_arm64.h"
#include "records/json.h"

using nlohmann::json;
using namespace pel_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const RecordCall call = read_record_call(in);
    // Exactly dim doubles on the heap, so a read past the query is caught.
    const HeapDoubles query(in.reals(call.dim));
    const std::string text = in.rest();

    char* out = untouched();
    decode(call.key, call.space, call.version, call.dim, query.data(), text.c_str(), &out);
    const std::optional<json> opened = take_output(out);
    if (!opened) return 0;

    json input;
    try {
        input = json::parse(text.c_str());
    } catch (const json::exception& e) {
        violated(__FILE__, __LINE__, "decoded text parses", e.what());
    }
    PEL_FUZZ_CHECK(opened->size() == records_of(input).size(), opened->dump());

    // Ranked best first; NaN scores (and infinities) are written as null, so
    // only the written numbers must be in order.
    const bool descending = std::strcmp(call.space, "COSINE") == 0 || std::strcmp(call.space, "INNER_PRODUCT") == 0;
    bool have_previous = false;
    double previous = 0;
    for (const json& r : *opened) {
        check_members(r, {"filter", "id", "meta", "similarity", "vector"}, call.dim);
        const json& s = r["similarity"];
        PEL_FUZZ_CHECK(s.is_number_float() || s.is_null(), r.dump());
        if (s.is_null()) continue;
        const double value = s.get<double>();
        if (have_previous) PEL_FUZZ_CHECK(descending ? !(value > previous) : !(value < previous), opened->dump());
        previous = value;
        have_previous = true;
    }
    return 0;
}
