// The cipher's timing does not depend on the key or the data: run under
// valgrind's memcheck (scripts/memcheck.sh) with both marked undefined, any
// branch on them or address made from them is a report, and any report fails.
//
// In scope, on each engine and for keys of 16, 24 and 32 bytes: the key
// expansion, padded CBC encryption and CBC decryption, through a schedule and
// through encrypt_cbc / decrypt_cbc. The decryption runs without a pad-count
// pointer: the padding check decides the status from the last decrypted block,
// so it reads those bytes by design and is out of scope. So are the reading of
// the key's hexadecimal digits and the compression of the plaintext.
//
// Without valgrind the marks do nothing and the program checks the round trips.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <valgrind/memcheck.h>

#include "sealing/aes.h"

namespace {

using plusaes::detail::Engine;

// Two whole blocks and a partial one: chaining, the full blocks and the padding.
constexpr std::size_t kPlaintextSize = 45;

bool check(bool condition, const char* what, Engine engine, int key_size) {
    if (!condition) {
        std::fprintf(stderr, "constant-time check: %s failed (%s, %d-byte key)\n", what,
                     plusaes::detail::engine_name(engine), key_size);
    }
    return condition;
}

bool run(Engine engine, int key_size, bool through_schedule) {
    std::vector<unsigned char> key(static_cast<std::size_t>(key_size));
    std::vector<unsigned char> plaintext(kPlaintextSize);
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(0x3C + 7 * i);
    for (std::size_t i = 0; i < plaintext.size(); ++i) plaintext[i] = static_cast<unsigned char>(0xA1 ^ (13 * i));
    const std::vector<unsigned char> expected = plaintext;
    const unsigned char iv[16] = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78,
                                  0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
    std::vector<unsigned char> ciphertext(plusaes::get_padded_encrypted_size(kPlaintextSize));
    std::vector<unsigned char> opened(ciphertext.size());

    VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
    VALGRIND_MAKE_MEM_UNDEFINED(plaintext.data(), plaintext.size());
    int sealed = 0, opened_status = 0;
    if (through_schedule) {
        const plusaes::detail::KeySchedule keys(key.data(), key_size, engine);
        sealed = plusaes::detail::encrypt_cbc(keys, plaintext.data(), plaintext.size(), &iv, ciphertext.data(),
                                              ciphertext.size(), true);
        opened_status = plusaes::detail::decrypt_cbc(keys, ciphertext.data(), ciphertext.size(), &iv, opened.data(),
                                                     opened.size(), nullptr);
    } else {
        sealed = plusaes::encrypt_cbc(plaintext.data(), plaintext.size(), key.data(), key.size(), &iv,
                                      ciphertext.data(), ciphertext.size(), true);
        opened_status = plusaes::decrypt_cbc(ciphertext.data(), ciphertext.size(), key.data(), key.size(), &iv,
                                             opened.data(), opened.size(), nullptr);
    }

    // Out of the measured region: the results may be looked at now.
    VALGRIND_MAKE_MEM_DEFINED(opened.data(), opened.size());
    bool ok = check(sealed == plusaes::status_ok && opened_status == plusaes::status_ok, "status", engine, key_size);
    ok &= check(std::memcmp(opened.data(), expected.data(), kPlaintextSize) == 0, "round trip", engine, key_size);
    const unsigned char pad = static_cast<unsigned char>(opened.size() - kPlaintextSize);
    for (std::size_t i = kPlaintextSize; i < opened.size(); ++i) ok &= check(opened[i] == pad, "padding", engine, key_size);
    return ok;
}

}  // namespace

int main() {
    const bool under_memcheck = RUNNING_ON_VALGRIND != 0;
    bool ok = true;
    std::vector<Engine> engines = {Engine::portable};
    if (plusaes::detail::engine_available(Engine::hardware)) engines.push_back(Engine::hardware);
    for (const Engine engine : engines) {
        for (const int key_size : {16, 24, 32}) ok &= run(engine, key_size, true);
        std::printf("constant-time check%s: %s engine, keys of 16, 24 and 32 bytes\n",
                    under_memcheck ? " under memcheck" : " (no memcheck: round trips only)",
                    plusaes::detail::engine_name(engine));
    }
    for (const int key_size : {16, 24, 32}) ok &= run(plusaes::detail::selected_engine(), key_size, false);
    std::printf("constant-time check: encrypt_cbc / decrypt_cbc on the selected engine, %s\n",
                plusaes::detail::engine_name(plusaes::detail::selected_engine()));
    if (!plusaes::detail::engine_available(Engine::hardware)) {
        std::printf("constant-time check: %s unavailable\n", plusaes::detail::engine_name(Engine::hardware));
    }
    return ok ? 0 : 1;
}
