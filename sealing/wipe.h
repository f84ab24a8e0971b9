// Wiping key material when its owner goes. A plain memset before a free is a
// dead store the compiler may drop; a store through a volatile pointer is not.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace Pelmora::sealing {

inline void secure_wipe(void* bytes, std::size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
#if defined(__GNUC__) || defined(__clang__)
    // Also keeps the compiler from assuming the bytes still hold what was
    // stored before the wipe.
    __asm__ __volatile__("" : : "r"(bytes) : "memory");
#endif
}

// An allocator that wipes every block it gives back, so a container of key
// bytes leaves no copy behind, whether it is destroyed, grown or unwound by an
// exception.
template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        secure_wipe(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const WipingAllocator<U>&) const noexcept {
        return false;
    }
};

// Key bytes: every block they have held is wiped when it is given back.
using SecretBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace Pelmora::sealing
