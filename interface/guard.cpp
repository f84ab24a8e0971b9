#include "interface/guard.h"

#include <cstdio>
#include <stdexcept>

namespace Pelmora::boundary {
namespace {

struct LastError {
    std::string message;
    bool failed = false;
};

thread_local LastError last;

}  // namespace

void fail(const char* function, const char* message) noexcept {
    try {
        last.message = message;
    } catch (...) {
        last.message.clear();  // out of memory: an empty reason is still a failure
    }
    last.failed = true;
    std::fprintf(stderr, "%s: %s\n", function, message);
    std::fflush(stderr);
}

void succeed() noexcept { last.failed = false; }

const char* last_error() noexcept { return last.failed ? last.message.c_str() : nullptr; }

void require(bool condition, const char* message) {
    if (!condition) {
        throw std::invalid_argument(message);
    }
}

std::string text_argument(const char* value, const char* name) {
    if (value == nullptr) {
        throw std::invalid_argument(std::string("The argument ") + name + " is null.");
    }
    return value;
}

}  // namespace Pelmora::boundary
