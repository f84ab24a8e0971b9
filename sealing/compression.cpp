#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "transform/utils.h"

namespace Pelmora {

namespace {

// The sealed format was first written through a one-call compressor that
// refuses inputs and buffers of 2^32 bytes or more with -10000; zlib has no
// such limit, so it is kept here and reported with the same code.
constexpr std::uint64_t kSizeLimit = std::uint64_t{1} << 32;
constexpr int kParamError = -10000;

static_assert(sizeof(uLong) >= 8, "zlib's uLong must hold sizes up to 2^32");

std::runtime_error compression_error(int code) {
    return std::runtime_error("Compression failed with error: " + std::to_string(code));
}

std::runtime_error decompression_error(int code) {
    return std::runtime_error("Decompression failed with error: " + std::to_string(code));
}

}  // namespace

std::vector<unsigned char> Utils::pel_compress(const std::string& text) {
    const std::uint64_t size = text.size();
    if (size >= kSizeLimit) {
        throw compression_error(kParamError);
    }
    const uLong bound = compressBound(static_cast<uLong>(size));
    if (bound >= kSizeLimit) {
        throw compression_error(kParamError);
    }
    std::vector<unsigned char> stream(bound, 0);
    uLongf length = bound;
    const int code = compress(stream.data(), &length, reinterpret_cast<const Bytef*>(text.data()),
                              static_cast<uLong>(size));
    if (code != Z_OK) {
        throw compression_error(code);
    }
    stream.resize(length);
    return stream;
}

std::string Utils::pel_decompress(const std::vector<unsigned char>& bytes) {
    const std::uint64_t size = bytes.size();
    if (size == 0) {
        throw decompression_error(Z_DATA_ERROR);
    }
    if (size >= kSizeLimit) {
        throw decompression_error(kParamError);
    }
    std::string text;
    for (std::uint64_t capacity = 2 * size;; capacity *= 2) {
        if (capacity >= kSizeLimit) {
            throw decompression_error(kParamError);
        }
        text.resize(static_cast<std::size_t>(capacity));
        uLongf length = static_cast<uLongf>(capacity);
        const int code = uncompress(reinterpret_cast<Bytef*>(&text[0]), &length, bytes.data(),
                                    static_cast<uLong>(size));
        if (code == Z_OK) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        // Z_BUF_ERROR stands both for "output full" and for "input ran out";
        // only a full output is worth a larger buffer, the other is a stream
        // cut short.
        if (code == Z_BUF_ERROR && length == capacity) {
            continue;
        }
        throw decompression_error(code == Z_BUF_ERROR ? Z_DATA_ERROR : code);
    }
}

}  // namespace Pelmora
