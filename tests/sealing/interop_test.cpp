// Sealed texts cross between this library and independent implementations:
// the openssl command-line cipher and python's zlib and base64 modules,
// driven by openssl_zlib.py beside this file.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "sealing/aes_cbc.h"
#include "sealing/support.h"

#ifndef SEALING_INTEROP_SCRIPT
#error "SEALING_INTEROP_SCRIPT must name openssl_zlib.py"
#endif

namespace {

namespace fs = std::filesystem;
using Pelmora::AES_CBC;

const char* const kKeys[] = {
    "2b7e151628aed2a6abf7158809cf4f3c",                                  // AES-128
    "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",                  // AES-192
    "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",  // AES-256
};

std::string plaintext_of_size(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        const std::string value(i % 7, static_cast<char>('a' + i % 26));
        text += "{\"i\":" + std::to_string(i) + ",\"v\":\"" + value + "\"}";
    }
    text.resize(size);
    return text;
}

const char kBinary[] = "bytes\0with\0zeros\xff\x80";

const std::string kPlaintexts[] = {
    "",
    "{}",
    R"({"name":"alpha","tags":["red","green","blue"],"count":42})",
    std::string(kBinary, sizeof kBinary - 1),
    plaintext_of_size(5000),
};

bool tools_present() {
    return std::system("openssl version > /dev/null 2>&1") == 0 &&
           std::system("python3 -c 'import zlib, base64, subprocess' > /dev/null 2>&1") == 0;
}

class SealingInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tools_present()) {
            GTEST_SKIP() << "openssl or python3 not found on PATH";
        }
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("pel_sealing_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(dir_);
    }

    void TearDown() override {
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    fs::path file(const std::string& name) const { return dir_ / name; }

    static void write(const fs::path& path, const std::string& content) {
        std::ofstream out(path, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Runs every line of the jobs file through the helper script.
    static int run_batch(const fs::path& jobs) {
        const std::string command =
            std::string("python3 '") + SEALING_INTEROP_SCRIPT + "' batch '" + jobs.string() + "'";
        return std::system(command.c_str());
    }

    fs::path dir_;
};

TEST_F(SealingInterop, OpensslOpensWhatAesCbcSeals) {
    std::string jobs;
    std::vector<std::string> expected;
    for (const char* key : kKeys) {
        AES_CBC cipher(key);
        for (const std::string& plaintext : kPlaintexts) {
            const std::string id = std::to_string(expected.size());
            write(file("sealed" + id), cipher.encrypt(plaintext));
            jobs += "open " + std::string(key) + " " + file("sealed" + id).string() + " " +
                    file("opened" + id).string() + "\n";
            expected.push_back(plaintext);
        }
    }
    write(file("jobs"), jobs);
    ASSERT_EQ(run_batch(file("jobs")), 0);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(std::string(kKeys[i / std::size(kPlaintexts)]) + ", plaintext of " +
                     std::to_string(expected[i].size()) + " bytes");
        EXPECT_EQ(read(file("opened" + std::to_string(i))), expected[i]);
    }
}

TEST_F(SealingInterop, AesCbcOpensWhatOpensslSeals) {
    struct Job {
        const char* key;
        std::string iv;
        int level;
        std::string plaintext;
    };
    std::vector<Job> cases;
    std::string jobs;
    for (const char* key : kKeys) {
        for (const std::string& plaintext : kPlaintexts) {
            for (int level : {1, 9}) {
                const std::string iv =
                    level == 9 ? "f3a1c07e55d2094b8e6b2c19d4a7e038" : "000102030405060708090a0b0c0d0e0f";
                const std::string id = std::to_string(cases.size());
                write(file("plain" + id), plaintext);
                jobs += "seal " + std::string(key) + " " + iv + " " + std::to_string(level) + " " +
                        file("plain" + id).string() + " " + file("sealed" + id).string() + "\n";
                cases.push_back({key, iv, level, plaintext});
            }
        }
    }
    write(file("jobs"), jobs);
    ASSERT_EQ(run_batch(file("jobs")), 0);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Job& c = cases[i];
        SCOPED_TRACE(std::string(c.key) + ", zlib level " + std::to_string(c.level) + ", plaintext of " +
                     std::to_string(c.plaintext.size()) + " bytes");
        AES_CBC cipher(c.key);
        EXPECT_EQ(cipher.decrypt(read(file("sealed" + std::to_string(i)))), c.plaintext);
        EXPECT_EQ(sealing_test::to_hex(cipher.iv_bytes), c.iv);
    }
}

}  // namespace
