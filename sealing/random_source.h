// The system's random source, which every IV comes from.
#pragma once

#include <stdexcept>

namespace Pelmora {

// The system gave no random bytes. A fault of the machine, not of the record
// being sealed: it reaches the host without a record's place.
class RandomSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace Pelmora
