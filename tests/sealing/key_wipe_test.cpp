// No heap block the cipher gives back holds key material: not the key bytes,
// not a part of them, not a word of the key schedule, after a success or
// after any failure, the failures of the key reading and of every single
// allocation included. The program's own operator new and delete see every
// block and look into each one as it is freed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pel_arm64.h"
#include "sealing/aes.h"
#include "sealing/aes_cbc.h"
#include "sealing/support.h"

namespace {

// Each block carries its size in front, for the look at it when it is freed.
constexpr std::size_t kHeader = 16;

// The test's own copies of key material are wiped as well: a block that held
// one and is later reused, still holding it, must not be taken for the code's.
using Words = std::vector<std::uint64_t, Pelmora::sealing::WipingAllocator<std::uint64_t>>;

struct Watch {
    bool armed = false;
    long allocations = 0;  // since armed
    long fail_at = -1;     // the allocation that throws std::bad_alloc, if any
    bool failed = false;   // whether it was reached
    // Sorted 8-byte words of key material.
    Words secrets;
    int blocks_with_secrets = 0;
};

Watch watch;

bool holds_secret(const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i + 8 <= size; ++i) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (std::binary_search(watch.secrets.begin(), watch.secrets.end(), word)) return true;
    }
    return false;
}

void* allocate(std::size_t size) {
    if (watch.armed && watch.allocations++ == watch.fail_at) {
        watch.failed = true;
        throw std::bad_alloc();
    }
    unsigned char* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    if (watch.armed) {
        // What the block held before (the test's own copies of the key, say)
        // must not pass for what the code wrote into it.
        std::memset(block + kHeader, 0xA5, size);
    }
    return block + kHeader;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
    if (watch.armed) {
        std::size_t size;
        std::memcpy(&size, block, sizeof size);
        if (holds_secret(block + kHeader, size)) ++watch.blocks_with_secrets;
    }
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

using plusaes::detail::Engine;
using plusaes::detail::KeySchedule;

// The words a key leaves in memory: every 8 bytes in a row of the key itself
// (so any prefix a failing read decoded), and every word of its schedule in
// each engine's form. Words of one byte value repeated, or with fewer than
// four non-zero bytes, are left out: a wiped block, a -1, or the schedule's
// sizes would match them.
// The bytes of the key's digit pairs up to the first that is not two
// hexadecimal digits, a single last digit making a byte of its own.
Pelmora::sealing::SecretBytes key_bytes_of(const std::string& hex_key) {
    Pelmora::sealing::SecretBytes bytes;
    for (std::size_t i = 0; i < hex_key.size(); i += 2) {
        const std::string pair = hex_key.substr(i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) break;
        bytes.push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

Words secrets_of(const std::string& hex_key) {
    const Pelmora::sealing::SecretBytes key = key_bytes_of(hex_key);
    Words words;
    const auto add = [&](const unsigned char* bytes) {
        if (std::count(bytes, bytes + 8, 0) <= 4 && std::count(bytes, bytes + 8, bytes[0]) < 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes, 8);
            words.push_back(word);
        }
    };
    for (std::size_t i = 0; i + 8 <= key.size(); ++i) add(key.data() + i);
    if (plusaes::detail::is_valid_key_size(key.size())) {
        for (const Engine engine : sealing_test::available_engines()) {
            alignas(KeySchedule) unsigned char storage[sizeof(KeySchedule)] = {};
            KeySchedule* schedule = new (storage) KeySchedule(key.data(), static_cast<int>(key.size()), engine);
            for (std::size_t i = 0; i + 8 <= sizeof storage; i += 8) add(storage + i);
            schedule->~KeySchedule();
        }
    }
    std::sort(words.begin(), words.end());
    return words;
}

struct Outcome {
    int blocks_with_secrets;
    bool reached;  // the allocation meant to fail was reached
};

// Runs `body` with the allocation number `fail_at` failing (-1: none).
template <class Body>
Outcome watched(const Words& secrets, long fail_at, Body&& body) {
    watch.secrets = secrets;
    watch.allocations = 0;
    watch.fail_at = fail_at;
    watch.failed = false;
    watch.blocks_with_secrets = 0;
    watch.armed = true;
    try {
        body();
    } catch (...) {
    }
    watch.armed = false;
    return {watch.blocks_with_secrets, watch.failed};
}

// Runs `body` once without a failure and then once with each of its
// allocations failing in turn, until one run reaches none.
template <class Body>
void expect_no_key_left(const std::string& key, Body&& body) {
    const Words secrets = secrets_of(key);
    ASSERT_FALSE(secrets.empty());
    for (long fail_at = -1;; ++fail_at) {
        const Outcome outcome = watched(secrets, fail_at, body);
        EXPECT_EQ(0, outcome.blocks_with_secrets)
            << (fail_at < 0 ? std::string("without a failing allocation")
                            : "allocation " + std::to_string(fail_at) + " failing");
        if (fail_at >= 0 && !outcome.reached) break;
    }
}

// Key bytes above 0x7F, so that no word of them is also a word of text.
const struct {
    const char* name;
    const char* key;
} kKeys[] = {
    {"AES-128", "e19fc2b7a85d3e60f41c9a7b2d8e5f13"},
    {"AES-192", "e19fc2b7a85d3e60f41c9a7b2d8e5f13c4d9e2b8f7a6918e"},
    {"AES-256", "e19fc2b7a85d3e60f41c9a7b2d8e5f13c4d9e2b8f7a6918ed3b5a7c9e1f28496"},
    {"31 digits, the last a byte of its own", "e19fc2b7a85d3e60f41c9a7b2d8e5f1"},
    {"the last pair not hexadecimal", "e19fc2b7a85d3e60f41c9a7b2d8e5fzz"},
    {"a pair in the middle not hexadecimal", "e19fc2b7a85d3e60f41c9a7b2dzz5f13"},
    {"30 digits: 15 bytes", "e19fc2b7a85d3e60f41c9a7b2d8e5f"},
    {"34 digits: 17 bytes", "e19fc2b7a85d3e60f41c9a7b2d8e5f13c4"},
    {"66 digits: 33 bytes", "e19fc2b7a85d3e60f41c9a7b2d8e5f13c4d9e2b8f7a6918ed3b5a7c9e1f28496e1"},
};

TEST(KeyWipe, TheCipherObjectLeavesNoKeyMaterialInFreedMemory) {
    for (const auto& k : kKeys) {
        SCOPED_TRACE(k.name);
        const std::string key = k.key;
        expect_no_key_left(key, [&] {
            Pelmora::AES_CBC cipher(key);
            const std::string sealed = cipher.encrypt("{\"name\":\"Mira\"}");
            cipher.decrypt(sealed);
        });
    }
}

// The whole call, with its JSON documents, through the exported functions,
// with each of its allocations failing in turn.
TEST(KeyWipe, RecordSetCallsLeaveNoKeyMaterialInFreedMemory) {
    const char* const records = R"([{"id":"a","filter":{},"meta":{"name":"Mira"},"vector":[0.5,-1.25]}])";
    const double query[] = {0.5, -1.25};
    for (const auto& k : kKeys) {
        SCOPED_TRACE(k.name);
        const std::string key = k.key;
        char* encoded = nullptr;
        encode(k.key, "L2", 1, 2, records, &encoded);
        const std::string text = encoded != nullptr ? encoded : "[]";
        free_output_buffer(encoded);
        ::testing::internal::CaptureStderr();
        expect_no_key_left(key, [&] {
            char* out = nullptr;
            encode(k.key, "L2", 1, 2, records, &out);
            free_output_buffer(out);
            out = nullptr;
            decode(k.key, "L2", 1, 2, query, text.c_str(), &out);
            free_output_buffer(out);
        });
        ::testing::internal::GetCapturedStderr();
    }
}

}  // namespace
