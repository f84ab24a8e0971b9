// Exported encode on record-set text from the fuzzer.
//
// Input: two bytes of arguments (fuzz_support.h, read_record_call), then the
// record-set text. A successful encode is decoded again under the same
// arguments: every record must come back with its "id", "filter" and "meta".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/record_checks.h"
#include "pel_arm64.h"
#include "records/json.h"

using nlohmann::json;
using namespace pel_fuzz;

namespace {

// One line per record, in a fixed order, to compare sets of records.
std::vector<std::string> identities(const std::vector<json>& records) {
    std::vector<std::string> lines;
    for (const json& r : records) lines.push_back(json::array({r.at("id"), r.at("filter"), r.at("meta")}).dump());
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const RecordCall call = read_record_call(in);
    const std::string text = in.rest();

    char* out = untouched();
    encode(call.key, call.space, call.version, call.dim, text.c_str(), &out);
    const std::optional<json> encoded = take_output(out);
    if (!encoded) return 0;

    // Success means the text (up to its first NUL) parsed and every record was
    // read; the library parses exactly as the JSON library does.
    json input;
    try {
        input = json::parse(text.c_str());
    } catch (const json::exception& e) {
        violated(__FILE__, __LINE__, "encoded text parses", e.what());
    }
    const std::vector<json> records = records_of(input);
    PEL_FUZZ_CHECK(encoded->size() == records.size(), encoded->dump());

    bool numbers_only = true;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const json& e = (*encoded)[i];
        check_members(e, {"filter", "id", "meta", "vector"}, call.dim);
        PEL_FUZZ_CHECK(e["id"] == records[i]["id"], e.dump());
        PEL_FUZZ_CHECK(e["filter"] == records[i]["filter"], e.dump());
        // base64 of 16 bytes, ":", base64 of whole blocks.
        const std::string sealed = e["meta"].get<std::string>();
        PEL_FUZZ_CHECK(sealed.size() >= 49 && sealed.compare(22, 3, "==:") == 0 && (sealed.size() - 25) % 4 == 0,
                       sealed);
        for (const json& x : e["vector"]) numbers_only = numbers_only && x.is_number();
    }

    // Decoding needs a metric and two dimensions; a NaN or infinity written as
    // null cannot be read back.
    if (!is_metric(call.space) || call.dim < 2 || !numbers_only) return 0;
    const HeapDoubles query(std::vector<double>(static_cast<std::size_t>(call.dim), 1.0));
    const std::string encoded_text = encoded->dump();
    out = untouched();
    decode(call.key, call.space, call.version, call.dim, query.data(), encoded_text.c_str(), &out);
    const char* reason = last_error_message();
    PEL_FUZZ_CHECK(reason == nullptr, std::string("decoding the encoded set failed: ") + reason + "\n" + encoded_text);
    const std::optional<json> opened = take_output(out);
    PEL_FUZZ_CHECK(opened->size() == records.size(), opened->dump());
    for (const json& r : *opened) check_members(r, {"filter", "id", "meta", "similarity", "vector"}, call.dim);
    PEL_FUZZ_CHECK(identities(records_of(*opened)) == identities(records), opened->dump());
    return 0;
}
