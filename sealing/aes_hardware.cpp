// The block cipher on the CPU's AES instructions. None is built yet: the
// portable engine serves every CPU.
#include "sealing/aes_engines.h"

namespace plusaes::detail {

bool hardware_supported() {
    return false;
}

const char* hardware_name() {
    return "hardware (not built)";
}

void hardware_prepare(const State*, int, unsigned char (*)[16]) {}
void hardware_encrypt(const unsigned char (*)[16], int, const unsigned char*, unsigned char*) {}
void hardware_decrypt(const unsigned char (*)[16], int, const unsigned char*, unsigned char*) {}

}  // namespace plusaes::detail
