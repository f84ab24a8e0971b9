// What the fuzz targets share: reading arguments out of the fuzzer's bytes, and
// checks that stop the run with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace pel_fuzz {

// An invariant the library must keep whatever the input. The message goes to
// stdout because the fuzz script closes the target's stderr (every failed call
// writes a line there, which would drown the fuzzer's own output).
[[noreturn]] inline void violated(const char* file, int line, const char* condition, const std::string& detail) {
    std::printf("\n==pel-fuzz== invariant broken at %s:%d: %s\n%s\n", file, line, condition, detail.c_str());
    std::fflush(stdout);
    std::abort();
}

#define PEL_FUZZ_CHECK(condition, detail)                                        \
    do {                                                                         \
        if (!(condition)) ::pel_fuzz::violated(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

// Reads the input front to back. Reads past the end give zeros, so every input,
// however short, still makes a call.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // Up to n bytes, fewer at the end of the input.
    std::string text(std::size_t n) {
        const std::size_t take = n < size_ - pos_ ? n : size_ - pos_;
        std::string s(reinterpret_cast<const char*>(data_ + pos_), take);
        pos_ += take;
        return s;
    }

    std::string rest() { return text(size_ - pos_); }

    // Eight bytes as the bit pattern of a double: NaNs, infinities and
    // subnormals come up as often as ordinary numbers.
    double real() {
        unsigned char b[sizeof(double)] = {};
        for (unsigned char& c : b) c = byte();
        double value;
        std::memcpy(&value, b, sizeof value);
        return value;
    }

    std::vector<double> reals(int n) {
        std::vector<double> v(n > 0 ? static_cast<std::size_t>(n) : 0);
        for (double& x : v) x = real();
        return v;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Exactly `size` doubles on the heap behind a pointer that is never null (an
// empty std::vector has none; new double[0] is a valid zero-length block), so
// ASan reports any access past the caller's array.
class HeapDoubles {
public:
    explicit HeapDoubles(const std::vector<double>& values)
        : data_(new double[values.size()]), size_(values.size()) {
        if (size_ > 0) std::memcpy(data_.get(), values.data(), size_ * sizeof(double));
    }
    double* data() { return data_.get(); }
    const double* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool same_bits(const HeapDoubles& other) const {
        return size_ == other.size_ && (size_ == 0 || std::memcmp(data_.get(), other.data_.get(), size_ * sizeof(double)) == 0);
    }

private:
    std::unique_ptr<double[]> data_;
    std::size_t size_;
};

// Keys for the record-set functions: valid for AES-128/192/256, one digit short
// (still AES-128), upper case (same bytes as the first), too few bytes, a pair
// that is no hex, and a key too short for the transform fields.
inline const char* const kRecordKeys[8] = {
    "7e41c09b2d5fa38816cb0e4f9a27d563",
    "3a9f06d2c47be1580f2d6c93a4e7b1085d2fc6490e1a7b3c",
    "c0ffee1234567890abcdef0fedcba98765432100112233445566778899aabbcc",
    "5b2e8f1ca3d7406e9b1f2c8a7d3e5f6",
    "7E41C09B2D5FA38816CB0E4F9A27D563",
    "7e41c09b2d5fa38816cb",
    "g17e41c09b2d5fa38816cb0e4f9a275",
    "12ab",
};

inline const char* const kSpaces[4] = {"COSINE", "L2", "INNER_PRODUCT", "cosine"};

// Mostly the two profiles; now and then a version the codec refuses.
inline const int kVersions[8] = {1, 2, 1, 2, 1, 2, 0, 3};

// Arguments of encode/decode from the first two bytes:
//   byte 0: bits 0-1 metric name, bits 2-5 dimension (0-15)
//   byte 1: bits 0-2 key, bits 3-5 version
struct RecordCall {
    const char* key;
    const char* space;
    int version;
    int dim;
};

inline RecordCall read_record_call(ByteReader& in) {
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    return {kRecordKeys[b & 7], kSpaces[a & 3], kVersions[(b >> 3) & 7], (a >> 2) & 15};
}

// The inverse of read_record_call, for the seed generator.
inline std::string record_call_header(int key_index, int space_index, int version_index, int dim) {
    std::string h(2, '\0');
    h[0] = static_cast<char>((space_index & 3) | (dim & 15) << 2);
    h[1] = static_cast<char>((key_index & 7) | (version_index & 7) << 3);
    return h;
}

inline bool is_metric(const char* space) {
    return std::strcmp(space, "COSINE") == 0 || std::strcmp(space, "L2") == 0 ||
           std::strcmp(space, "INNER_PRODUCT") == 0;
}

// The value out_json holds before a call; a failed call must leave it there.
inline char* untouched() {
    static char marker;
    return &marker;
}

}  // namespace pel_fuzz
