// The cipher engines held to each other and to the plain route, and what a
// schedule leaves behind.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(__linux__) && defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include <gtest/gtest.h>

#include "sealing/aes.h"
#include "sealing/support.h"

namespace {

using plusaes::detail::Engine;
using plusaes::detail::KeySchedule;
using sealing_test::Bytes;

// What the CPU reports of its AES instructions, read apart from the
// library's own check: the "aes" flag of /proc/cpuinfo on x86-64, "aes" in
// its Features on aarch64, or the kernel's AT_HWCAP where /proc/cpuinfo has no
// Features (qemu-user shows the host's). Nothing where neither is known.
std::optional<std::set<std::string>> cpuinfo_words(const std::string& field) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        if (name != field) continue;
        std::istringstream words(line.substr(colon + 1));
        std::set<std::string> set;
        for (std::string word; words >> word;) set.insert(word);
        return set;
    }
    return std::nullopt;
}

std::optional<bool> cpu_reports_aes() {
#if defined(__linux__) && defined(__x86_64__)
    if (const auto flags = cpuinfo_words("flags")) return flags->count("aes") > 0;
#elif defined(__linux__) && defined(__aarch64__)
    if (const auto features = cpuinfo_words("Features")) return features->count("aes") > 0;
    return (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
#endif
    return std::nullopt;
}

// Says, in the test output, which engine this run seals with, and holds the
// choice to the build option and to what the CPU reports.
TEST(SealingAesEngine, SelectedEngine) {
    const Engine selected = plusaes::detail::selected_engine();
    std::cout << "[ engine   ] selected: " << plusaes::detail::engine_name(selected) << std::endl;
    ::testing::Test::RecordProperty("aes_engine", plusaes::detail::engine_name(selected));
    const std::optional<bool> cpu_aes = cpu_reports_aes();
    if (!cpu_aes) GTEST_SKIP() << "this system does not say whether the CPU has AES instructions";
    std::cout << "[ cpu      ] AES instructions reported: " << (*cpu_aes ? "yes" : "no")
              << "; built for them (PEL_HARDWARE_AES): " << (PEL_HARDWARE_AES ? "yes" : "no") << std::endl;
    EXPECT_EQ(PEL_HARDWARE_AES && *cpu_aes, selected == Engine::hardware);
}

Bytes random_bytes(std::mt19937& engine, std::size_t size) {
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(engine());
    return bytes;
}

// Random keys, IVs and lengths: every engine gives the plain route's blocks and
// the same CBC ciphertexts, and opens what any of them sealed.
TEST(SealingAesEngine, EnginesAgreeOnRandomCases) {
    std::mt19937 random = sealing_test::seeded_engine(90210);
    const std::vector<Engine> engines = sealing_test::available_engines();
    const int key_sizes[] = {16, 24, 32};
    for (int trial = 0; trial < 600; ++trial) {
        const int key_size = key_sizes[trial % 3];
        const Bytes key = random_bytes(random, static_cast<std::size_t>(key_size));
        const Bytes iv_bytes = random_bytes(random, 16);
        unsigned char iv[16];
        std::copy(iv_bytes.begin(), iv_bytes.end(), iv);
        const Bytes plaintext = random_bytes(random, random() % 200);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", key of " + std::to_string(key_size) + " bytes, " +
                     std::to_string(plaintext.size()) + " bytes of plaintext");

        const std::vector<plusaes::detail::State> round_keys = plusaes::detail::expand_key(key.data(), key_size);
        const Bytes block = random_bytes(random, 16);
        Bytes plain_route(16), plain_back(16);
        plusaes::detail::encrypt_state(round_keys, block.data(), plain_route.data());
        plusaes::detail::decrypt_state(round_keys, block.data(), plain_back.data());

        Bytes first_ciphertext;
        for (const Engine engine : engines) {
            SCOPED_TRACE(plusaes::detail::engine_name(engine));
            const KeySchedule keys(key.data(), key_size, engine);
            Bytes out(16);
            keys.encrypt_block(block.data(), out.data());
            ASSERT_EQ(out, plain_route);
            keys.decrypt_block(block.data(), out.data());
            ASSERT_EQ(out, plain_back);

            Bytes ciphertext(plusaes::get_padded_encrypted_size(plaintext.size()), 0xA5);
            ASSERT_EQ(plusaes::detail::encrypt_cbc(keys, plaintext.data(), plaintext.size(), &iv, ciphertext.data(),
                                                   ciphertext.size(), true),
                      plusaes::status_ok);
            if (first_ciphertext.empty()) first_ciphertext = ciphertext;
            ASSERT_EQ(ciphertext, first_ciphertext);

            Bytes opened(ciphertext.size(), 0);
            std::uint64_t pad_count = 0;
            ASSERT_EQ(plusaes::detail::decrypt_cbc(keys, first_ciphertext.data(), first_ciphertext.size(), &iv,
                                                   opened.data(), opened.size(), &pad_count),
                      plusaes::status_ok);
            ASSERT_EQ(Bytes(opened.begin(), opened.begin() + static_cast<long>(plaintext.size())), plaintext);
        }
    }
}

// Nothing of the key outlives its schedule: only the engine and the two sizes
// may remain in the storage.
TEST(SealingAesEngine, ScheduleIsWipedWhenItGoes) {
    const Bytes key(32, 0x5A);
    for (const Engine engine : sealing_test::available_engines()) {
        SCOPED_TRACE(plusaes::detail::engine_name(engine));
        alignas(KeySchedule) unsigned char storage[sizeof(KeySchedule)] = {};
        KeySchedule* keys = new (storage) KeySchedule(key.data(), 32, engine);
        std::size_t nonzero = 0;
        for (unsigned char b : storage) nonzero += b != 0;
        ASSERT_GT(nonzero, 3 * sizeof(int));
        keys->~KeySchedule();
        nonzero = 0;
        for (unsigned char b : storage) nonzero += b != 0;
        EXPECT_LE(nonzero, 3 * sizeof(int));
    }
}

}  // namespace
