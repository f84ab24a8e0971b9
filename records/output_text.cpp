#include "records/json.h"
#include "records/output_text.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace Pelmora {

namespace {

// A text of many MB is written once from start to end; on large pages that
// takes a page fault every 2 MB instead of every 4 kB. Only advice: where it
// is not taken nothing changes.
void advise_large_pages(char* data, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kLarge = std::size_t{2} << 20;
    if (size < 2 * kLarge) {
        return;
    }
    const auto first = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace

OutputText::~OutputText() { std::free(data_); }

void OutputText::reserve(std::size_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) {
        throw std::bad_alloc();
    }
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    advise_large_pages(data_, capacity_);
}

std::size_t OutputText::grown(std::size_t more) const {
    constexpr std::size_t kLargest = std::numeric_limits<std::ptrdiff_t>::max() / 2;
    if (more > kLargest - size_) {
        throw std::bad_alloc();
    }
    const std::size_t needed = size_ + more;
    const std::size_t doubled = capacity_ < 4096 ? 4096 : capacity_ + capacity_ / 2;
    return needed > doubled ? needed : doubled;
}

void OutputText::copy_in(std::string_view text) {
    if (!text.empty()) {
        std::memcpy(data_ + size_, text.data(), text.size());
        size_ += text.size();
    }
}

void OutputText::append_number(double x) {
    // The routine the JSON library's dump formats reals with, and its buffer size.
    constexpr std::size_t kRoom = 64;
    reserve_more(kRoom);
    if (!std::isfinite(x)) {
        copy_in("null");
        return;
    }
    char* end = nlohmann::detail::to_chars(data_ + size_, data_ + size_ + kRoom, x);
    size_ = static_cast<std::size_t>(end - data_);
}

char* OutputText::release() {
    reserve_more(1);
    data_[size_] = '\0';
    // Shrinking a block cannot fail in practice; if it does, the larger block
    // serves as well.
    char* text = static_cast<char*>(std::realloc(data_, size_ + 1));
    if (text == nullptr) {
        text = data_;
    }
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    return text;
}

char* to_output_text(std::string_view text) {
    OutputText out(text.size() + 1);  // with the NUL: no growth on release
    out.append(text);
    return out.release();
}

void release_output_text(char* text) noexcept { std::free(text); }

}  // namespace Pelmora
