// Pelmora::parse_key_field on any key and field index. A field that starts
// beyond the key throws std::out_of_range; one that starts at its end or holds
// no hex digit std::invalid_argument. Both messages are one line whatever bytes
// the key holds. Nothing else may escape.
//
// Input: byte 0 is the field, as a signed byte; the rest is the key.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_support.h"
#include "key/key.h"

using namespace pel_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const int field = static_cast<std::int8_t>(in.byte());
    const std::string key = in.rest();
    int value;
    try {
        value = Pelmora::parse_key_field(key, field);
    } catch (const std::invalid_argument& e) {
        PEL_FUZZ_CHECK(std::strchr(e.what(), '\n') == nullptr, e.what());
        return 0;
    } catch (const std::out_of_range& e) {
        PEL_FUZZ_CHECK(std::strchr(e.what(), '\n') == nullptr, e.what());
        return 0;
    }
    // At most four characters: "ffff" at the top, "-fff" at the bottom.
    PEL_FUZZ_CHECK(value >= -0xfff && value <= 0xffff, std::to_string(value));
    PEL_FUZZ_CHECK(field >= 0 && static_cast<std::size_t>(4 * field) <= key.size(), std::to_string(field));
    return 0;
}
