#include "interface/guard.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace Pelmora::boundary {
namespace {

struct LastError {
    std::string message;
    bool failed = false;
};

thread_local LastError last;

}  // namespace

void fail_quietly(const char* message) noexcept {
    try {
        last.message = message;
    } catch (...) {
        last.message.clear();  // out of memory: an empty reason is still a failure
    }
    last.failed = true;
}

void fail(const char* function, const char* message) noexcept {
    fail_quietly(message);
    std::fprintf(stderr, "%s: %s\n", function, message);
    std::fflush(stderr);
}

void succeed() noexcept { last.failed = false; }

const char* last_error() noexcept { return last.failed ? last.message.c_str() : nullptr; }

void write_and_fail(const std::string& message) {
    // One write, so the line cannot interleave with those of concurrent calls.
    std::cerr << (message + '\n') << std::flush;
    throw AlreadyWritten(message);
}

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
