// The system's random source, which every IV comes from.
#pragma once

#include <cstddef>
#include <stdexcept>

namespace Pelmora {

// The system gave no random bytes. A fault of the machine, not of the record
// being sealed: it reaches the host without a record's place.
class RandomSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace sealing {

// One request to the system for up to `count` random bytes: how many it gave,
// or -1 with errno set.
using RandomRequest = long (*)(unsigned char* bytes, std::size_t count);

// The kernel's own bytes, with no file where the system allows: getrandom
// where there is one (Linux), getentropy otherwise (macOS, the BSDs), and only
// where there is neither a read of /dev/urandom, opened close-on-exec.
long kernel_random_request(unsigned char* bytes, std::size_t count);
// Which of them this build takes, as failure messages name it: "getrandom",
// "getentropy" or "/dev/urandom".
const char* kernel_random_source();

// Fills all `count` bytes, asking again after an interruption or a short
// answer. RandomSourceError, naming the source and the system's reason, when
// a request fails or gives nothing.
void fill_random(unsigned char* bytes, std::size_t count, RandomRequest request = kernel_random_request);

// The random bytes of one cipher object: kernel bytes fetched a block at a
// time, the blocks growing with use, so that a call sealing one record asks
// for little and one sealing thousands makes one request per 64 IVs. Each
// byte is handed out once.
class RandomBytes {
public:
    explicit RandomBytes(RandomRequest request = kernel_random_request) noexcept : request_(request) {}
    RandomBytes(const RandomBytes&) = delete;
    RandomBytes& operator=(const RandomBytes&) = delete;

    // RandomSourceError as fill_random; a byte handed out before the failure
    // is not handed out again.
    void take(unsigned char* bytes, std::size_t count);

private:
    static constexpr std::size_t kFirstBlock = 64;
    static constexpr std::size_t kLargestBlock = 1024;

    RandomRequest request_;
    unsigned char block_[kLargestBlock];
    std::size_t next_ = 0;  // the first byte not yet handed out
    std::size_t end_ = 0;   // the end of the current block's bytes
    std::size_t block_size_ = kFirstBlock;
};

}  // namespace sealing
}  // namespace Pelmora
