// The text a record-set call hands to the host: one NUL-terminated character
// array that the host releases with free_output_buffer (release_output_text).
//
// It grows in place: large blocks are mapped by the allocator and grow by
// remapping, so a text of hundreds of MB is never held twice while it grows,
// and the array handed over has exactly the text's length plus one byte.
#pragma once

#include <cstddef>
#include <string_view>

namespace Pelmora {

class OutputText {
public:
    OutputText() = default;
    explicit OutputText(std::size_t expected_size) { reserve_more(expected_size); }
    OutputText(OutputText&& other) noexcept
        : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    OutputText& operator=(OutputText&&) = delete;
    OutputText(const OutputText&) = delete;
    OutputText& operator=(const OutputText&) = delete;
    ~OutputText();

    void append(std::string_view text) {
        reserve_more(text.size());
        copy_in(text);
    }
    void append(char c) {
        reserve_more(1);
        data_[size_++] = c;
    }
    // A double as the JSON library's dump writes it: its shortest round-trip
    // digits, or null for NaN and the infinities.
    void append_number(double x);

    std::size_t size() const { return size_; }

    // The text with its NUL, in an array of size() + 1 bytes that the caller
    // owns from now on. Leaves this object empty.
    char* release();

private:
    void reserve(std::size_t capacity);
    void reserve_more(std::size_t more) {
        if (capacity_ - size_ < more) {
            reserve(grown(more));
        }
    }
    std::size_t grown(std::size_t more) const;
    void copy_in(std::string_view text);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Copies `text` into an array that release_output_text releases.
char* to_output_text(std::string_view text);

// Releases an array from OutputText::release or to_output_text; null is allowed.
void release_output_text(char* text) noexcept;

}  // namespace Pelmora
