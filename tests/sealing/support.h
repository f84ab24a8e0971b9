// Helpers shared by the sealing tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sealing/aes.h"

namespace sealing_test {

using Bytes = std::vector<unsigned char>;

// "00ff.." to bytes; the text must hold whole pairs of hexadecimal digits.
inline Bytes from_hex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline std::string to_hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0x0F];
    }
    return hex;
}

inline Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Message of the std::runtime_error that `call` throws, or a note saying what
// happened instead.
inline std::string runtime_error_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("<other exception: ") + error.what() + ">";
    }
    return "<no exception>";
}

// Engine for random cases; the seed is printed so a failure can be replayed.
inline std::mt19937 seeded_engine(std::uint32_t seed) {
    std::cout << "[ seed     ] " << ::testing::UnitTest::GetInstance()->current_test_info()->name() << " uses seed "
              << seed << std::endl;
    return std::mt19937(seed);
}

// The cipher engines this build and CPU can run, portable first. Known answers
// loop over them, so each engine is held to them where it exists; the note
// says which ran.
inline std::vector<plusaes::detail::Engine> available_engines() {
    using plusaes::detail::Engine;
    std::vector<Engine> engines = {Engine::portable};
    if (plusaes::detail::engine_available(Engine::hardware)) {
        engines.push_back(Engine::hardware);
    } else {
        std::cout << "[ engine   ] " << plusaes::detail::engine_name(Engine::hardware)
                  << " unavailable: portable engine only" << std::endl;
    }
    return engines;
}

}  // namespace sealing_test
