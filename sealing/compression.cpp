#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "sealing/codecs.h"
#include "sealing/compression.h"

namespace Pelmora {

namespace {

// The sealed format was first written through a one-call compressor that
// refuses inputs and buffers of 2^32 bytes or more with -10000; zlib has no
// such limit, so it is kept here and reported with the same code.
constexpr std::uint64_t kSizeLimit = std::uint64_t{1} << 32;
constexpr int kParamError = -10000;

static_assert(sizeof(uLong) >= 8, "zlib's uLong must hold sizes up to 2^32");

// zlib's Z_MEM_ERROR is memory that ran out, no fault of the text: it passes
// as std::bad_alloc, like the failure of any other allocation.
std::runtime_error compression_error(int code) {
    if (code == Z_MEM_ERROR) {
        throw std::bad_alloc();
    }
    return std::runtime_error("Compression failed with error: " + std::to_string(code));
}

std::runtime_error decompression_error(int code) {
    if (code == Z_MEM_ERROR) {
        throw std::bad_alloc();
    }
    return std::runtime_error("Decompression failed with error: " + std::to_string(code));
}

void check_compress_size(std::uint64_t size) {
    if (size >= kSizeLimit || compressBound(static_cast<uLong>(size)) >= kSizeLimit) {
        throw compression_error(kParamError);
    }
}

// An empty input is no zlib stream; with it the doubling would never grow.
void check_decompress_size(std::uint64_t size) {
    if (size == 0) {
        throw decompression_error(Z_DATA_ERROR);
    }
    if (size >= kSizeLimit) {
        throw decompression_error(kParamError);
    }
}

}  // namespace

std::vector<unsigned char> sealing::pel_compress(const std::string& text) {
    const std::uint64_t size = text.size();
    check_compress_size(size);
    const uLong bound = compressBound(static_cast<uLong>(size));
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

std::string sealing::pel_decompress(const std::vector<unsigned char>& bytes) {
    const std::uint64_t size = bytes.size();
    check_decompress_size(size);
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

Deflater::Deflater() : stream_{} {
    const int code = deflateInit(&stream_, Z_DEFAULT_COMPRESSION);
    if (code != Z_OK) {
        throw compression_error(code);
    }
}

Deflater::~Deflater() { deflateEnd(&stream_); }

std::vector<unsigned char> Deflater::compress(const std::string& text) {
    const std::uint64_t size = text.size();
    check_compress_size(size);
    std::vector<unsigned char> out(compressBound(static_cast<uLong>(size)), 0);
    int code = deflateReset(&stream_);
    if (code == Z_OK) {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        stream_.avail_in = static_cast<uInt>(size);
        stream_.next_out = out.data();
        stream_.avail_out = static_cast<uInt>(out.size());
        code = deflate(&stream_, Z_FINISH);
    }
    // The bound guarantees that one call finishes the stream.
    if (code != Z_STREAM_END) {
        throw compression_error(code == Z_OK ? Z_BUF_ERROR : code);
    }
    out.resize(stream_.total_out);
    return out;
}

Inflater::Inflater() : stream_{} {
    const int code = inflateInit(&stream_);
    if (code != Z_OK) {
        throw decompression_error(code);
    }
}

Inflater::~Inflater() { inflateEnd(&stream_); }

std::string Inflater::decompress(const std::vector<unsigned char>& bytes) {
    const std::uint64_t size = bytes.size();
    check_decompress_size(size);
    int code = inflateReset(&stream_);
    if (code != Z_OK) {
        throw decompression_error(code);
    }
    stream_.next_in = const_cast<Bytef*>(bytes.data());
    stream_.avail_in = static_cast<uInt>(size);
    // The same capacities as Utils::pel_decompress, 2n doubling, but the decoder
    // goes on where it stopped instead of starting over.
    std::string text;
    for (std::uint64_t capacity = 2 * size;; capacity *= 2) {
        if (capacity >= kSizeLimit) {
            throw decompression_error(kParamError);
        }
        const std::size_t produced = stream_.total_out;
        text.resize(static_cast<std::size_t>(capacity));
        stream_.next_out = reinterpret_cast<Bytef*>(&text[produced]);
        stream_.avail_out = static_cast<uInt>(capacity - produced);
        code = inflate(&stream_, Z_FINISH);
        if (code == Z_STREAM_END) {
            text.resize(stream_.total_out);
            return text;
        }
        if (code == Z_BUF_ERROR && stream_.avail_out == 0) {
            continue;  // output full: grow
        }
        // Input used up before the end of the stream, a preset dictionary, or
        // malformed data: all count as data that is not a whole zlib stream.
        if (code == Z_BUF_ERROR || code == Z_NEED_DICT || code == Z_OK) {
            code = Z_DATA_ERROR;
        }
        throw decompression_error(code);
    }
}

}  // namespace Pelmora
