// What the FMA clones of transform/blocks.cpp ask of the toolchain: a function
// of external linkage compiled for FMA and without, picked by the loader, whose
// inlined helpers call inline constructors and member functions of classes in
// headers. Built and linked by the configure step; never run.
#include <cmath>
#include <cstdint>

#include "transform/fma_clones.h"

namespace check {

struct Entry {
    double value = 0.0;
    std::uint8_t stored = 0;
};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : multiplier_(1674535), state_(seed) {}
    double next() {
        state_ = (multiplier_ * state_ + 1) % (std::uint64_t{1} << 32);
        return static_cast<double>(state_);
    }

private:
    std::uint64_t multiplier_;
    std::uint64_t state_;
};

template <class Place>
PEL_INLINE void draw(std::uint64_t seed, int count, Place place) {
    Generator generator(seed);
    for (int k = 0; k < count; ++k) {
        Entry& e = place(k);
        e.value = std::fma(generator.next(), 0.5, 1.0);
        e.stored = 1;
    }
}

PEL_KERNEL void kernel(std::uint64_t seed, int count, Entry* out) {
    Entry scratch;
    draw(seed, count, [&](int k) -> Entry& { return k == 0 ? scratch = Entry() : out[k]; });
    out[0] = scratch;
}

}  // namespace check

int main(int argc, char**) {
    check::Entry entries[4];
    check::kernel(static_cast<std::uint64_t>(argc), 4, entries);
    return entries[0].stored == 1 ? 0 : 1;
}
