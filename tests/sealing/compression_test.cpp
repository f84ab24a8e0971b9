#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "sealing/support.h"
#include "transform/utils.h"

namespace {

using Pelmora::Utils;
using sealing_test::Bytes;
using sealing_test::runtime_error_of;

const char kDataError[] = "Decompression failed with error: -3";

std::string random_text(std::mt19937& engine, std::size_t size) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text(size, '\0');
    for (char& c : text) {
        c = static_cast<char>(byte(engine));
    }
    return text;
}

// A zlib stream made by zlib itself at the given level, for texts that did not
// come through pel_compress.
Bytes zlib_stream(const std::string& text, int level) {
    Bytes out(compressBound(text.size()));
    uLongf length = out.size();
    EXPECT_EQ(compress2(out.data(), &length, reinterpret_cast<const Bytef*>(text.data()), text.size(), level), Z_OK);
    out.resize(length);
    return out;
}

Bytes gzip_stream(const std::string& text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&stream, text.size()) + 32);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(SealingCompression, RoundTrips) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"zero bytes inside", std::string("a\0b\0\0c", 6)},
        {"only zero bytes", std::string(300, '\0')},
        {"ten thousand copies of one letter", std::string(10000, 'x')},
        {"compact JSON", R"({"name":"alpha","tags":["red","green"],"count":42})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stream = Utils::pel_compress(c.text);
        ASSERT_FALSE(stream.empty());
        EXPECT_EQ(Utils::pel_decompress(stream), c.text);
    }
    // Far below half the text's size: the first capacities are too small.
    EXPECT_LT(Utils::pel_compress(std::string(10000, 'x')).size() * 16, 10000u);
}

TEST(SealingCompression, RoundTripsOfEveryLength) {
    std::mt19937 engine = sealing_test::seeded_engine(7331);
    for (std::size_t size = 0; size <= 600; ++size) {
        const std::string text = random_text(engine, size);
        ASSERT_EQ(Utils::pel_decompress(Utils::pel_compress(text)), text) << "length " << size;
    }
}

TEST(SealingCompression, ReadsStreamsOfAnyLevel) {
    const std::string text = std::string(500, 'a') + "metadata" + std::string(500, 'b');
    for (int level : {0, 1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        EXPECT_EQ(Utils::pel_decompress(zlib_stream(text, level)), text);
    }
}

TEST(SealingCompression, BytesAfterTheStreamAreIgnored) {
    const std::string text = R"({"k":"value","n":[1,2,3]})";
    Bytes with_zeros = Utils::pel_compress(text);
    with_zeros.insert(with_zeros.end(), 16, 0x00);
    EXPECT_EQ(Utils::pel_decompress(with_zeros), text);

    Bytes with_junk = Utils::pel_compress(text);
    for (unsigned char b : {0xFF, 0x78, 0x9C, 0x01, 0x42}) {
        with_junk.push_back(b);
    }
    EXPECT_EQ(Utils::pel_decompress(with_junk), text);

    Bytes twice = Utils::pel_compress(text);
    const Bytes other = Utils::pel_compress("second");
    twice.insert(twice.end(), other.begin(), other.end());
    EXPECT_EQ(Utils::pel_decompress(twice), text);
}

TEST(SealingCompression, DamagedStreamsFailWithDataError) {
    const std::string text(10000, 'q');
    const Bytes stream = Utils::pel_compress(text);

    Bytes adler = stream;
    adler.back() ^= 0x01;
    EXPECT_EQ(runtime_error_of([&] { Utils::pel_decompress(adler); }), kDataError) << "flipped Adler-32 bit";

    EXPECT_EQ(runtime_error_of([] { Utils::pel_decompress({}); }), kDataError) << "empty input";
    EXPECT_EQ(runtime_error_of([&] { Utils::pel_decompress(gzip_stream(text)); }), kDataError) << "gzip stream";

    // Every prefix is a stream cut short, including those whose text fills the
    // capacity exactly.
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<long>(cut));
        ASSERT_EQ(runtime_error_of([&] { Utils::pel_decompress(prefix); }), kDataError) << "first " << cut << " bytes";
    }
    std::mt19937 engine = sealing_test::seeded_engine(4242);
    const std::string varied = random_text(engine, 200);
    const Bytes varied_stream = Utils::pel_compress(varied);
    for (std::size_t cut = 1; cut < varied_stream.size(); ++cut) {
        const Bytes prefix(varied_stream.begin(), varied_stream.begin() + static_cast<long>(cut));
        ASSERT_EQ(runtime_error_of([&] { Utils::pel_decompress(prefix); }), kDataError) << "first " << cut << " bytes";
    }
}

}  // namespace
