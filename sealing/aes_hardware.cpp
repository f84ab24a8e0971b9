// The block cipher on the CPU's AES instructions: AES-NI on x86-64, the Armv8
// AES instructions on aarch64. Only these functions are compiled for the
// instructions (a target attribute, never a flag for the whole file), and they
// run only once hardware_supported() has said the CPU has them.
//
// Round-key blocks: 0 to rounds are the encryption keys as they come from the
// key expansion, rounds + 1 to 2 rounds + 1 the keys of the equivalent inverse
// cipher (the last encryption key first, the inner ones through InvMixColumns).
#include <cstring>

#include "sealing/aes_engines.h"

#if PEL_HARDWARE_AES && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PEL_AES_X86 1
#include <immintrin.h>
#define PEL_AES_TARGET __attribute__((target("aes,sse2")))
#elif PEL_HARDWARE_AES && defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#define PEL_AES_ARM 1
#include <arm_neon.h>
#if defined(__ARM_FEATURE_AES) || defined(__ARM_FEATURE_CRYPTO)
#define PEL_AES_TARGET
#elif defined(__clang__)
#define PEL_AES_TARGET __attribute__((target("aes")))
#else
#define PEL_AES_TARGET __attribute__((target("+crypto")))
#endif
#if defined(__linux__)
#include <sys/auxv.h>
#endif
#elif PEL_HARDWARE_AES
#error "PEL_HARDWARE_AES: no AES instructions for this processor or compiler"
#endif

namespace plusaes::detail {

#if PEL_AES_X86

bool hardware_supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes");
}

const char* hardware_name() {
    return "AES-NI";
}

namespace {

PEL_AES_TARGET inline __m128i load(const unsigned char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

PEL_AES_TARGET inline void store(__m128i value, unsigned char* bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value);
}

PEL_AES_TARGET void inv_mix_columns_block(const unsigned char* in, unsigned char* out) {
    store(_mm_aesimc_si128(load(in)), out);
}

}  // namespace

PEL_AES_TARGET void hardware_encrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in,
                                     unsigned char* out) {
    __m128i x = _mm_xor_si128(load(in), load(blocks[0]));
    for (int k = 1; k < rounds; ++k) {
        x = _mm_aesenc_si128(x, load(blocks[k]));
    }
    store(_mm_aesenclast_si128(x, load(blocks[rounds])), out);
}

PEL_AES_TARGET void hardware_decrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in,
                                     unsigned char* out) {
    const unsigned char (*inverse)[16] = blocks + rounds + 1;
    __m128i x = _mm_xor_si128(load(in), load(inverse[0]));
    for (int k = 1; k < rounds; ++k) {
        x = _mm_aesdec_si128(x, load(inverse[k]));
    }
    store(_mm_aesdeclast_si128(x, load(inverse[rounds])), out);
}

#elif PEL_AES_ARM

bool hardware_supported() {
#if defined(__ARM_FEATURE_AES) || defined(__ARM_FEATURE_CRYPTO)
    return true;  // the whole build already assumes the instructions
#elif defined(__linux__) && defined(HWCAP_AES)
    return (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
#else
    return false;
#endif
}

const char* hardware_name() {
    return "Armv8 AES";
}

// AESE is AddRoundKey, SubBytes and ShiftRows; AESD their inverses; AESMC and
// AESIMC the column mixings. The last round key is added apart.
namespace {

PEL_AES_TARGET void inv_mix_columns_block(const unsigned char* in, unsigned char* out) {
    vst1q_u8(out, vaesimcq_u8(vld1q_u8(in)));
}

}  // namespace

PEL_AES_TARGET void hardware_encrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in,
                                     unsigned char* out) {
    uint8x16_t x = vld1q_u8(in);
    for (int k = 0; k < rounds - 1; ++k) {
        x = vaesmcq_u8(vaeseq_u8(x, vld1q_u8(blocks[k])));
    }
    x = vaeseq_u8(x, vld1q_u8(blocks[rounds - 1]));
    vst1q_u8(out, veorq_u8(x, vld1q_u8(blocks[rounds])));
}

PEL_AES_TARGET void hardware_decrypt(const unsigned char (*blocks)[16], int rounds, const unsigned char* in,
                                     unsigned char* out) {
    const unsigned char (*inverse)[16] = blocks + rounds + 1;
    uint8x16_t x = vld1q_u8(in);
    for (int k = 0; k < rounds - 1; ++k) {
        x = vaesimcq_u8(vaesdq_u8(x, vld1q_u8(inverse[k])));
    }
    x = vaesdq_u8(x, vld1q_u8(inverse[rounds - 1]));
    vst1q_u8(out, veorq_u8(x, vld1q_u8(inverse[rounds])));
}

#else

bool hardware_supported() {
    return false;
}

const char* hardware_name() {
    return "hardware (not built)";
}

namespace {

void inv_mix_columns_block(const unsigned char*, unsigned char*) {}

}  // namespace
void hardware_encrypt(const unsigned char (*)[16], int, const unsigned char*, unsigned char*) {}
void hardware_decrypt(const unsigned char (*)[16], int, const unsigned char*, unsigned char*) {}

#endif

void hardware_prepare(const State* round_keys, int rounds, unsigned char (*blocks)[16]) {
    for (int k = 0; k <= rounds; ++k) {
        copy_state_to_bytes(round_keys[k], blocks[k]);
    }
    unsigned char (*inverse)[16] = blocks + rounds + 1;
    std::memcpy(inverse[0], blocks[rounds], 16);
    for (int k = 1; k < rounds; ++k) {
        inv_mix_columns_block(blocks[rounds - k], inverse[k]);
    }
    std::memcpy(inverse[rounds], blocks[0], 16);
}

}  // namespace plusaes::detail
