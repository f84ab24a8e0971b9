// Opening a sealed metadata text from the fuzzer: AES_CBC(key).decrypt(text).
//
// Input: byte 0 picks the key (AES-128, -192 or -256), the rest is the text.
// A text that does not open may only fail with the cipher's runtime_error;
// every text, taken as plaintext, must also seal and open back to itself.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sealing/aes_cbc.h"

using namespace pel_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const char* key = kRecordKeys[in.byte() % 3];
    const std::string text = in.rest();

    Pelmora::AES_CBC cipher(key);
    try {
        (void)cipher.decrypt(text);
    } catch (const std::runtime_error&) {
        // "Decryption failed." or "Decompression failed with error: N".
    }

    const std::string sealed = cipher.encrypt(text);
    PEL_FUZZ_CHECK(sealed.find('\n') == std::string::npos, sealed);
    PEL_FUZZ_CHECK(sealed.size() >= 49 && sealed.compare(22, 3, "==:") == 0, sealed);
    PEL_FUZZ_CHECK(Pelmora::AES_CBC(key).decrypt(sealed) == text, sealed);
    return 0;
}
