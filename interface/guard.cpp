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

bool continues_character(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string bounded_message(std::string_view message) {
    if (message.size() <= kMaxMessageBytes) {
        return std::string(message);
    }
    const std::string note = " [... cut: the whole message is " + std::to_string(message.size()) + " bytes ...] ";
    // Most of the room goes to the start; the end often closes a quote or
    // names what was expected.
    constexpr std::size_t kEndBytes = 256;
    std::size_t head = kMaxMessageBytes - kEndBytes - note.size();
    std::size_t tail = message.size() - kEndBytes;
    while (head > 0 && continues_character(message[head])) {
        --head;
    }
    while (tail < message.size() && continues_character(message[tail])) {
        ++tail;
    }
    return std::string(message.substr(0, head)) + note + std::string(message.substr(tail));
}

void fail_quietly(const char* message) noexcept {
    try {
        last.message = bounded_message(message);
    } catch (...) {
        last.message.clear();  // out of memory: an empty reason is still a failure
    }
    last.failed = true;
}

void fail(const char* function, const char* message) noexcept {
    fail_quietly(message);
    std::fprintf(stderr, "%s: %s\n", function, last.message.c_str());
    std::fflush(stderr);
}

void succeed() noexcept { last.failed = false; }

const char* last_error() noexcept { return last.failed ? last.message.c_str() : nullptr; }

void write_and_fail(const std::string& message) {
    const std::string text = bounded_message(message);
    // One write, so the line cannot interleave with those of concurrent calls.
    std::cerr << (text + '\n') << std::flush;
    throw AlreadyWritten(text);
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
