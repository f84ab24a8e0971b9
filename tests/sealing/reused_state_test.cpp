// The cipher object's fast paths, held to the straightforward code they replace:
// reused zlib states against the one-call helpers, and the doubling form of
// InvMixColumns against the product form.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "sealing/aes.h"
#include "sealing/compression.h"
#include "transform/utils.h"

namespace {

using Pelmora::Utils;
using Bytes = std::vector<unsigned char>;

// What a call gives: its result, or the message it failed with.
template <class Call>
std::string outcome(Call call) {
    try {
        const auto result = call();
        return "ok:" + std::string(result.begin(), result.end());
    } catch (const std::runtime_error& e) {
        return std::string("error:") + e.what();
    }
}

std::vector<std::string> sample_texts(std::mt19937_64& engine) {
    std::vector<std::string> texts = {"", "null", "{\"name\":\"Mira\"}", std::string(10000, 'a'),
                                      std::string("\0\0\0x\0", 5), std::string(70000, '\0')};
    for (int i = 0; i < 40; ++i) {
        std::string text(engine() % 3000, '\0');
        const unsigned alphabet = i % 2 ? 256 : 4;  // random and highly compressible
        for (char& c : text) c = static_cast<char>(engine() % alphabet);
        texts.push_back(text);
    }
    return texts;
}

TEST(ReusedState, DeflaterWritesTheOneCallStream) {
    const unsigned seed = 4242;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 engine(seed);
    Pelmora::Deflater deflater;
    for (const std::string& text : sample_texts(engine)) {
        SCOPED_TRACE("length " + std::to_string(text.size()));
        EXPECT_EQ(Utils::pel_compress(text), deflater.compress(text));
    }
}

TEST(ReusedState, InflaterAgreesOnGoodAndDamagedStreams) {
    const unsigned seed = 4243;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 engine(seed);
    Pelmora::Inflater inflater;
    std::vector<Bytes> inputs = {{}, {0x78}, {0x1F, 0x8B, 0x08, 0x00}, Bytes(16, 0)};
    for (const std::string& text : sample_texts(engine)) {
        const Bytes stream = Utils::pel_compress(text);
        inputs.push_back(stream);
        Bytes trailing = stream;
        trailing.insert(trailing.end(), 16, 0);
        inputs.push_back(trailing);
        inputs.push_back(Bytes(stream.begin(), stream.end() - 1 - engine() % stream.size() / 2));
        Bytes flipped = stream;
        flipped[engine() % flipped.size()] ^= static_cast<unsigned char>(1u << (engine() % 8));
        inputs.push_back(flipped);
    }
    // One decompressor for all, so a failure must not spoil the next text.
    for (const Bytes& input : inputs) {
        SCOPED_TRACE("input of " + std::to_string(input.size()) + " bytes");
        EXPECT_EQ(outcome([&] { return Utils::pel_decompress(input); }),
                  outcome([&] { return inflater.decompress(input); }));
    }
}

// The eight-step product form of InvMixColumns.
void inv_mix_columns_by_products(plusaes::detail::State& state) {
    using plusaes::detail::mul;
    for (int c = 0; c < 4; ++c) {
        const std::uint32_t w = state[c];
        const unsigned char b[4] = {static_cast<unsigned char>(w), static_cast<unsigned char>(w >> 8),
                                    static_cast<unsigned char>(w >> 16), static_cast<unsigned char>(w >> 24)};
        const unsigned char m[4][4] = {{0x0E, 0x0B, 0x0D, 0x09},
                                       {0x09, 0x0E, 0x0B, 0x0D},
                                       {0x0D, 0x09, 0x0E, 0x0B},
                                       {0x0B, 0x0D, 0x09, 0x0E}};
        std::uint32_t out = 0;
        for (int r = 0; r < 4; ++r) {
            unsigned char x = 0;
            for (int k = 0; k < 4; ++k) x = static_cast<unsigned char>(x ^ mul(b[k], m[r][k]));
            out |= std::uint32_t{x} << (8 * r);
        }
        state[c] = out;
    }
}

TEST(ReusedState, InvMixColumnsMatchesTheProductForm) {
    const unsigned seed = 4244;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 engine(seed);
    for (std::uint32_t i = 0; i < 70000; ++i) {
        plusaes::detail::State state{};
        for (int c = 0; c < 4; ++c) {
            // Every byte value in every lane first, then random words.
            state[c] = i < 256 ? (i * 0x01010101u) ^ (0x11u << (8 * c)) : engine();
        }
        plusaes::detail::State expected = state;
        inv_mix_columns_by_products(expected);
        plusaes::detail::inv_mix_columns(state);
        for (int c = 0; c < 4; ++c) ASSERT_EQ(expected[c], state[c]) << "case " << i << " word " << c;
    }
}

}  // namespace
