// Where the IV bytes come from: the kernel, asked again after an interruption
// or a short answer, through blocks that hand out each byte once; and a
// source that gives nothing is reported as the machine's fault, not a record's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/aes_cbc.h"
#include "sealing/random_source.h"
#include "sealing/support.h"

namespace {

using Pelmora::RandomSourceError;
using Pelmora::sealing::fill_random;
using Pelmora::sealing::RandomBytes;
using sealing_test::Bytes;

const char kKey128[] = "2b7e151628aed2a6abf7158809cf4f3c";

// A scripted system: each request follows the next step of `script` (an
// interruption, a failure with an errno, or at most so many bytes), then
// answers in full. The bytes it gives count up from 1, so that a byte given
// twice or skipped shows.
struct Step {
    int error;          // errno to fail with, 0 to give bytes
    std::size_t bytes;  // at most this many, when giving
};

struct ScriptedSystem {
    std::vector<Step> script;
    std::size_t step = 0;
    std::vector<std::size_t> asked;  // the count of every request
    unsigned char next_byte = 1;
};

ScriptedSystem scripted;

long scripted_request(unsigned char* bytes, std::size_t count) {
    scripted.asked.push_back(count);
    const Step step = scripted.step < scripted.script.size() ? scripted.script[scripted.step++] : Step{0, count};
    if (step.error != 0) {
        errno = step.error;
        return -1;
    }
    const std::size_t given = std::min(count, step.bytes);
    for (std::size_t i = 0; i < given; ++i) bytes[i] = scripted.next_byte++;
    return static_cast<long>(given);
}

void script(std::vector<Step> steps) { scripted = ScriptedSystem{std::move(steps), 0, {}, 1}; }

Bytes counting_from(unsigned char first, std::size_t count) {
    Bytes bytes(count);
    for (unsigned char& b : bytes) b = first++;
    return bytes;
}

TEST(RandomSource, AsksAgainAfterInterruptionsAndShortAnswers) {
    script({{EINTR, 0}, {0, 5}, {EINTR, 0}, {EINTR, 0}, {0, 1}, {0, 3}});
    Bytes bytes(40, 0);
    fill_random(bytes.data(), bytes.size(), scripted_request);
    EXPECT_EQ(counting_from(1, 40), bytes);
    // What is still missing is asked for each time, nothing more.
    EXPECT_EQ((std::vector<std::size_t>{40, 40, 35, 35, 35, 34, 31}), scripted.asked);
}

// No bytes is a failure of the machine: the message says so, with the
// system's reason, and names no record.
TEST(RandomSource, ASourceThatGivesNothingFailsWithTheReason) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        const char* reason;  // in the message, or nullptr for none
    } cases[] = {
        {"no such call", {{ENOSYS, 0}}, "Function not implemented"},
        {"after some bytes", {{0, 7}, {EIO, 0}}, "Input/output error"},
        {"interrupted, then refused", {{EINTR, 0}, {EPERM, 0}}, "Operation not permitted"},
        {"an empty answer", {{0, 0}}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.steps);
        Bytes bytes(16, 0);
        try {
            fill_random(bytes.data(), bytes.size(), scripted_request);
            ADD_FAILURE() << "no exception";
        } catch (const RandomSourceError& e) {
            const std::string message = e.what();
            const std::string source = Pelmora::sealing::kernel_random_source();
            EXPECT_EQ(0u, message.find("The system's random source (" + source + ") gave no random bytes")) << message;
            if (c.reason != nullptr) {
                EXPECT_NE(std::string::npos, message.find(c.reason)) << message;
            }
            EXPECT_EQ(std::string::npos, message.find("ecord")) << message;
        }
    }
}

// Blocks of 64, 128, ... up to 1024 bytes: every byte of them handed out once
// and in order, whatever sizes are taken, and a failed refill hands out
// nothing and is asked again on the next take.
TEST(RandomSource, BlocksHandOutEveryByteOnceAndGrow) {
    script({});
    RandomBytes random(scripted_request);
    Bytes taken;
    const std::size_t sizes[] = {16, 16, 5, 100, 16, 1, 700, 16, 2000, 16};
    for (const std::size_t size : sizes) {
        Bytes bytes(size, 0);
        random.take(bytes.data(), bytes.size());
        taken.insert(taken.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(counting_from(1, taken.size()), taken);
    EXPECT_EQ((std::vector<std::size_t>{64, 128, 256, 512, 1024, 1024}), scripted.asked);

    script({{ENOSYS, 0}});
    RandomBytes failing(scripted_request);
    Bytes iv(16, 0xA5);
    EXPECT_THROW(failing.take(iv.data(), iv.size()), RandomSourceError);
    failing.take(iv.data(), iv.size());
    EXPECT_EQ(counting_from(1, 16), iv);
    EXPECT_EQ((std::vector<std::size_t>{64, 64}), scripted.asked);
}

// The cipher object passes the source's failure on as it is; it stays usable.
TEST(RandomSource, SealingFailsWithTheSourcesErrorAndOpensStill) {
    const std::string sealed = Pelmora::AES_CBC(kKey128).encrypt("{\"name\":\"Mira\"}");
    script({{ENOSYS, 0}});
    Pelmora::AES_CBC cipher(kKey128, scripted_request);
    try {
        cipher.encrypt("{\"name\":\"Tomas\"}");
        ADD_FAILURE() << "no exception";
    } catch (const RandomSourceError& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("Function not implemented")) << e.what();
    }
    EXPECT_EQ("{\"name\":\"Mira\"}", cipher.decrypt(sealed));
    const std::string again = cipher.encrypt("{\"name\":\"Tomas\"}");
    EXPECT_EQ("{\"name\":\"Tomas\"}", cipher.decrypt(again));
    EXPECT_EQ(sealing_test::to_hex(counting_from(1, 16)), sealing_test::to_hex(cipher.iv_bytes));
}

// The kernel's bytes, in requests larger than one call of getentropy gives,
// and no two IVs of a thousand seals alike.
TEST(RandomSource, TheKernelGivesBytes) {
    Bytes first(100000, 0), second(100000, 0);
    fill_random(first.data(), first.size());
    fill_random(second.data(), second.size());
    EXPECT_NE(first, second);
    EXPECT_GT(std::set<unsigned char>(first.begin(), first.end()).size(), 250u);

    Pelmora::AES_CBC cipher(kKey128);
    std::set<std::string> ivs;
    for (int i = 0; i < 1000; ++i) ivs.insert(cipher.encrypt("x").substr(0, 24));
    EXPECT_EQ(1000u, ivs.size());
}

// getrandom and getentropy need no file: sealing works in a process that can
// open none (run in a child, whose descriptors it uses up).
TEST(RandomSource, SealsWithoutAFileDescriptor) {
    if (std::string(Pelmora::sealing::kernel_random_source()) == "/dev/urandom") {
        GTEST_SKIP() << "this system has neither getrandom nor getentropy";
    }
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        Pelmora::AES_CBC cipher(kKey128);
        int ends[2];
        const rlimit limit{16, 16};
        if (pipe(ends) != 0 || setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
        while (dup(ends[0]) >= 0) {
        }
        if (errno != EMFILE) _exit(3);
        try {
            const std::string sealed = cipher.encrypt("{\"n\":1}");
            _exit(cipher.decrypt(sealed) == "{\"n\":1}" ? 0 : 4);
        } catch (...) {
            _exit(5);
        }
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
