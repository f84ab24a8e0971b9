// Utils::hex_decode on any text. A pair without a readable digit throws
// std::invalid_argument naming it on one line; nothing else may escape.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "transform/utils.h"

using Pelmora::Utils;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<unsigned char> bytes;
    try {
        bytes = Utils::hex_decode(text);
    } catch (const std::invalid_argument& e) {
        PEL_FUZZ_CHECK(std::strchr(e.what(), '\n') == nullptr, e.what());
        return 0;
    }
    // One byte per pair, a single last digit forming a byte of its own.
    PEL_FUZZ_CHECK(bytes.size() == (size + 1) / 2, text);

    // Lower-case hex of the bytes reads back to them.
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    PEL_FUZZ_CHECK(Utils::hex_decode(hex) == bytes, hex);
    return 0;
}
