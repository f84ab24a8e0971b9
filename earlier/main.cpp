// Demonstration driver of pellib and libpel_linux, exported as `main` for a host
// to look up; nothing in the library calls it.
#include <iostream>
#include <vector>

#include "earlier/pelmo.h"
#include "earlier/random.h"
#include "pel_earlier.h"

// Prints the earlier codec's round trip of a vector from Eigen's random vector
// (std::rand, never seeded here, so one platform always prints the same), then
// the draws of the generator from seed 12345, which are the same everywhere.
PEL_EXPORT int main() {
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

    Random r(12345);
    std::cout << "Random number: " << r.random() << std::endl;
    const std::vector<double> u = r.uniform(10.0, 20.0, 5);
    std::cout << "Random numbers in the range [10.0, 20.0):" << std::endl;
    for (const double x : u) {
        std::cout << x << " ";
    }
    std::cout << std::endl;
    std::cout << "Random number in the range [30.0, 40.0): " << r.range(30.0, 40.0) << std::endl;
    std::cout << "Random number in the range [30.0, 40.0): " << r.range(30.0, 40.0) << std::endl;
    return 0;
}
