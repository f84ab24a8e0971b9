// Demonstration driver of pellib and libpel_linux, exported as `main` for a host
// to look up; nothing in the library calls it.
#include <iostream>

#include "earlier/pelmo.h"
#include "interface/demo.h"
#include "interface/guard.h"
#include "pel_earlier.h"

namespace {

// Prints the earlier codec's round trip of a vector from Eigen's random vector
// (std::rand, never seeded here, so one platform always prints the same), then
// the draws of the generator from seed 12345, which are the same everywhere.
void run_demo() {
    const Pelmo codec("9f3e77a1c05b2d68", 10);

    const Pelmora::Vector a = Pelmora::Vector::Random(10);
    std::cout << "Original vector:" << std::endl;
    std::cout << a << std::endl;

    const Pelmora::Vector e = codec.encode(a);
    std::cout << "Encoded vector:" << std::endl;
    std::cout << e << std::endl;

    const Pelmora::Vector d = codec.decode(e);
    std::cout << "Decoded vector:" << std::endl;
    std::cout << d << std::endl;

    Pelmora::print_generator_demo();
}

}  // namespace

PEL_EXPORT int main() { return Pelmora::boundary::run_driver(run_demo); }
