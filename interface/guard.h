// The one place where failures cross the C boundary.
#pragma once

#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Pelmora::boundary {

// The longest failure message a host is given, in bytes.
inline constexpr std::size_t kMaxMessageBytes = 4096;

// `message` itself when it fits in kMaxMessageBytes. A longer one is cut in
// its middle, which is where a long message quotes the input that made it (a
// parser's "last read: '...'", a metric name): it keeps its start, which gives
// the reason, and its end, and says between them how long the whole was. Both
// cuts fall on UTF-8 character boundaries.
std::string bounded_message(std::string_view message);

// Records `message`, bounded, as the calling thread's last error and writes
// "<function>: <message>" with the same text to stderr. Never throws.
void fail(const char* function, const char* message) noexcept;
// Records `message`, bounded, as the calling thread's last error without
// writing it.
void fail_quietly(const char* message) noexcept;
// Marks the calling thread's last call as successful.
void succeed() noexcept;
// The calling thread's last error, or nullptr after a success.
const char* last_error() noexcept;

// A failure whose line is already on stderr (the codec's "Invalid version
// number", the parse error of encode). The host still reads the text from
// last_error(), which may say more than the line did, but a second line would
// make one fault look like two.
class AlreadyWritten : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Writes `message`, bounded, as one line to stderr, then throws that text as
// AlreadyWritten.
[[noreturn]] void write_and_fail(const std::string& message);

// The default floating-point environment for as long as it lives: round to
// nearest, no flush-to-zero, no denormals-are-zero, every exception masked.
// The host's own environment (its rounding mode, its flush bits, its sticky
// flags and trap masks) is put back exactly as it was when it goes, so a call
// neither depends on the host's settings nor changes them.
class DefaultFloatingPoint {
public:
    DefaultFloatingPoint() noexcept;
    ~DefaultFloatingPoint();
    DefaultFloatingPoint(const DefaultFloatingPoint&) = delete;
    DefaultFloatingPoint& operator=(const DefaultFloatingPoint&) = delete;

private:
    // The host's environment. Where the registers are known they are kept
    // and set directly: it costs nanoseconds, where saving and loading the x87
    // environment through the C library costs half a microsecond a call.
#if defined(__x86_64__)
    std::uint32_t mxcsr_;
    std::uint16_t x87_control_;
    std::uint16_t x87_status_;
#elif defined(__aarch64__)
    std::uint64_t fpcr_;
    std::uint64_t fpsr_;
#else
    std::fenv_t host_;
#endif
};

// Runs an exported function's body under the default floating-point
// environment. No exception leaves it. The body must compute into locals and
// write the caller's outputs only as its last step, so a failure leaves them
// untouched.
template <class Body>
void guarded(const char* function, Body&& body) noexcept {
    const DefaultFloatingPoint environment;
    try {
        body();
        succeed();
    } catch (const AlreadyWritten& e) {
        fail_quietly(e.what());
    } catch (const std::exception& e) {
        fail(function, e.what());
    } catch (...) {
        fail(function, "unknown failure");
    }
}

// A demonstration driver's body behind the same guard: 0 once it has run, 1 if
// it failed (out of memory, say), with the reason as for any other call.
template <class Body>
int run_driver(Body&& body) noexcept {
    bool ran = false;
    guarded("main", [&] {
        body();
        ran = true;
    });
    return ran ? 0 : 1;
}

// Refuses an argument the call cannot use; the message names it.
void require(bool condition, const char* message);

// The text of a NUL-terminated argument; `name` is for the message if it is null.
std::string text_argument(const char* value, const char* name);

}  // namespace Pelmora::boundary
