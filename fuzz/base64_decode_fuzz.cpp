// Utils::base64_decode on any text; it never fails.
//
// Whatever it reads must be what base64_encode writes for those bytes, and the
// input's bytes must survive encoding and decoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "transform/utils.h"

using Pelmora::Utils;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<unsigned char> bytes = Utils::base64_decode(text);
    // Four characters give three bytes; a trailing group of two or three gives
    // one or two.
    PEL_FUZZ_CHECK(bytes.size() <= size / 4 * 3 + 2, text);

    const std::string again = Utils::base64_encode(bytes);
    PEL_FUZZ_CHECK(again.size() == (bytes.size() + 2) / 3 * 4, again);
    PEL_FUZZ_CHECK(Utils::base64_decode(again) == bytes, again);

    const std::vector<unsigned char> raw(data, data + size);
    PEL_FUZZ_CHECK(Utils::base64_decode(Utils::base64_encode(raw)) == raw, text);
    return 0;
}
