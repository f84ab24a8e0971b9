#include "sealing/random_source.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#if PEL_RANDOM_GETRANDOM
#include <sys/random.h>
#elif PEL_RANDOM_GETENTROPY
#include <sys/types.h>
#include <unistd.h>
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Pelmora::sealing {

#if PEL_RANDOM_GETRANDOM

constexpr char kSource[] = "getrandom";

long kernel_random_request(unsigned char* bytes, std::size_t count) {
    return static_cast<long>(getrandom(bytes, count, 0));
}

#elif PEL_RANDOM_GETENTROPY

constexpr char kSource[] = "getentropy";

// getentropy gives at most 256 bytes a call, and all of them or none.
long kernel_random_request(unsigned char* bytes, std::size_t count) {
    const std::size_t asked = std::min<std::size_t>(count, 256);
    return getentropy(bytes, asked) == 0 ? static_cast<long>(asked) : -1;
}

#else

constexpr char kSource[] = "/dev/urandom";

// Opened for each request, which the blocks of RandomBytes make rare, so that
// no descriptor outlives a call.
long kernel_random_request(unsigned char* bytes, std::size_t count) {
    const int device = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (device < 0) {
        return -1;
    }
    const long given = static_cast<long>(read(device, bytes, count));
    const int error = errno;
    close(device);
    errno = error;
    return given;
}

#endif

const char* kernel_random_source() { return kSource; }

void fill_random(unsigned char* bytes, std::size_t count, RandomRequest request) {
    while (count > 0) {
        errno = 0;
        const long given = request(bytes, count);
        if (given < 0 && errno == EINTR) {
            continue;
        }
        if (given <= 0) {
            const int error = given < 0 ? errno : 0;
            std::string message = std::string("The system's random source (") + kSource + ") gave no random bytes";
            if (error != 0) {
                message += ": " + std::generic_category().message(error);
            }
            throw RandomSourceError(message + ".");
        }
        bytes += given;
        count -= static_cast<std::size_t>(given);
    }
}

void RandomBytes::take(unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        if (next_ == end_) {
            fill_random(block_, block_size_, request_);
            next_ = 0;
            end_ = block_size_;
            block_size_ = std::min(2 * block_size_, kLargestBlock);
        }
        const std::size_t taken = std::min(count, end_ - next_);
        std::copy_n(block_ + next_, taken, bytes);
        next_ += taken;
        bytes += taken;
        count -= taken;
    }
}

}  // namespace Pelmora::sealing
