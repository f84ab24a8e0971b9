// Output shared by the demonstration drivers of all three libraries.
#pragma once

#include <iostream>
#include <vector>

#include "transform/random.h"

namespace Pelmora {

// The generator's draws from seed 12345, printed to six digits. They are the
// same under every rounding policy at that precision.
inline void print_generator_demo() {
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
}

}  // namespace Pelmora
