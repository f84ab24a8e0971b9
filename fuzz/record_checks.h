// Checks around one call of the exported encode or decode.
#pragma once

#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "pel_arm64.h"
#include "records/json.h"

namespace pel_fuzz {

// A reason that only an unchecked precondition or an escaped non-standard
// exception can produce: Eigen's size and index checks fire only when the
// library forgot to validate an argument itself.
inline void check_reason(const char* reason) {
    const std::string r = reason;
    PEL_FUZZ_CHECK(r.rfind("internal check failed", 0) != 0, r);
    PEL_FUZZ_CHECK(r != "unknown failure", r);
}

// After encode or decode either the call failed (a reason, out_json as it was)
// or it succeeded (no reason, a new buffer of compact JSON). Releases the buffer
// and returns the parsed output after a success.
inline std::optional<nlohmann::json> take_output(char* out) {
    const char* reason = last_error_message();
    if (reason != nullptr) {
        PEL_FUZZ_CHECK(out == untouched(), std::string("failed with '") + reason + "' but stored a buffer");
        check_reason(reason);
        return std::nullopt;
    }
    PEL_FUZZ_CHECK(out != untouched(), "succeeded without storing a buffer");
    PEL_FUZZ_CHECK(out != nullptr, "succeeded and stored NULL");
    const std::string text = out;
    free_output_buffer(out);
    PEL_FUZZ_CHECK(last_error_message() == nullptr, "free_output_buffer failed");

    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        violated(__FILE__, __LINE__, "output parses", std::string(e.what()) + "\n" + text);
    }
    // The output is the compact dump, and a dump reads back to the same text.
    PEL_FUZZ_CHECK(parsed.dump() == text, text);
    PEL_FUZZ_CHECK(parsed.is_array(), text);
    return parsed;
}

// The records a record set holds, in the library's iteration order: an
// array's elements, an object's values by key, none for null, else the value.
inline std::vector<nlohmann::json> records_of(const nlohmann::json& set) {
    std::vector<nlohmann::json> records;
    for (const nlohmann::json& record : set) records.push_back(record);
    return records;
}

// A record of the output has exactly these members.
inline void check_members(const nlohmann::json& record, std::initializer_list<const char*> names, int dim) {
    PEL_FUZZ_CHECK(record.is_object(), record.dump());
    PEL_FUZZ_CHECK(record.size() == names.size(), record.dump());
    for (const char* name : names) PEL_FUZZ_CHECK(record.contains(name), record.dump());
    PEL_FUZZ_CHECK(record["id"].is_string(), record.dump());
    const nlohmann::json& v = record["vector"];
    PEL_FUZZ_CHECK(v.is_array() && v.size() == static_cast<std::size_t>(dim), record.dump());
    // Written as reals; NaN and infinities come out as null.
    for (const nlohmann::json& x : v) PEL_FUZZ_CHECK(x.is_number_float() || x.is_null(), record.dump());
}

}  // namespace pel_fuzz
