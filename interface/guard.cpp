#include "interface/guard.h"

#include <pthread.h>

#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace Pelmora::boundary {
namespace {

// The calling thread's last failure lives behind a key of the threads library,
// not in a thread_local: in a library loaded with dlopen, glibc makes a
// thread_local's storage on the thread's first use of it, with malloc, and ends
// the process when that fails, as it does when it cannot register the
// destructor of a thread_local object. The slot of a key needs no memory (for
// the first 32 keys of a process on glibc, for every key on macOS); the record
// it points to is made where running out of memory can be handled.
struct LastError {
    std::string message;
    bool failed = false;
};

// The slot of a thread whose failure had no record and could get none.
LastError not_recorded;
constexpr char kNotRecorded[] = "The reason for the failure could not be kept: memory ran out.";

void release_record(void* record) {
    if (record != &not_recorded) {
        delete static_cast<LastError*>(record);
    }
}

// Made when the library is loaded. Without it (every key of the process in
// use) no reason is kept, and a failed call shows only on stderr. When the
// library goes, the key goes with it, and the record of the thread that
// unloads it (at exit, the main thread's).
struct Key {
    pthread_key_t key{};
    bool made = pthread_key_create(&key, release_record) == 0;
    ~Key() {
        if (made) {
            release_record(pthread_getspecific(key));
            pthread_key_delete(key);
        }
    }
} const slot;

LastError* last() noexcept { return slot.made ? static_cast<LastError*>(pthread_getspecific(slot.key)) : nullptr; }

// Fails only the first time a thread sets a key beyond the first 32 of the
// process, when glibc cannot allocate the slot.
bool set_last(LastError* record) noexcept { return slot.made && pthread_setspecific(slot.key, record) == 0; }

// The C++ runtime's own thread-local state, which every exception uses, has the
// same weakness where the host is no C++ program and the runtime comes with
// this library: it is made on the first exception of each thread. Made here
// for the thread that loads the library, where memory has not yet run out;
// threads the host starts later make it with their first exception.
[[maybe_unused]] volatile int exceptions_ready = std::uncaught_exceptions();

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
    LastError* record = last();
    if (record == nullptr || record == &not_recorded) {
        record = new (std::nothrow) LastError;
        if (record == nullptr || !set_last(record)) {
            delete record;
            set_last(&not_recorded);
            return;
        }
    }
    try {
        record->message = bounded_message(message);
        record->failed = true;
    } catch (...) {
        // Out of memory for the text. The slot was set before, so setting it
        // again cannot fail.
        set_last(&not_recorded);
        delete record;
    }
}

void fail(const char* function, const char* message) noexcept {
    fail_quietly(message);
    std::fprintf(stderr, "%s: %s\n", function, last_error() != nullptr ? last_error() : message);
    std::fflush(stderr);
}

void succeed() noexcept {
    LastError* record = last();
    if (record == &not_recorded) {
        set_last(nullptr);
    } else if (record != nullptr) {
        record->failed = false;
    }
}

const char* last_error() noexcept {
    const LastError* record = last();
    if (record == &not_recorded) {
        return kNotRecorded;
    }
    return record != nullptr && record->failed ? record->message.c_str() : nullptr;
}

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

#if defined(__x86_64__)

namespace {

// MXCSR: the sticky flags (bits 0-5), denormals-are-zero (6), the exception
// masks (7-12), the rounding mode (13-14) and flush-to-zero (15). By default
// every exception is masked and nothing else is set: what glibc's FE_DFL_ENV
// loads.
constexpr std::uint32_t kMxcsrFlags = 0x3F;
constexpr std::uint32_t kMxcsrDefault = 0x1F80;
// x87 control word: exception masks (bits 0-5), precision (8-9), rounding
// (10-11); by default all masked, 64-bit precision, round to nearest. The
// status word's flags are its bits 0-5.
constexpr std::uint16_t kX87ControlBits = 0x0F3F;
constexpr std::uint16_t kX87Default = 0x037F;
constexpr std::uint16_t kX87Flags = 0x3F;

struct X87Words {
    std::uint16_t control, status;
};

X87Words read_x87() {
    X87Words words;
    __asm__ __volatile__("fnstcw %0\n\tfnstsw %1" : "=m"(words.control), "=m"(words.status));
    return words;
}

void set_x87_control(std::uint16_t control) { __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory"); }

// The x87 environment as fnstenv stores it in 64-bit mode.
struct X87Environment {
    std::uint16_t control, unused0, status, unused1;
    std::uint32_t rest[5];
};

void set_x87(std::uint16_t control, std::uint16_t flags) {
    X87Environment x87;
    __asm__ __volatile__("fnstenv %0" : "=m"(x87));
    x87.control = control;
    x87.status = static_cast<std::uint16_t>((x87.status & ~kX87Flags) | (flags & kX87Flags));
    __asm__ __volatile__("fldenv %0" : : "m"(x87) : "memory");
}

}  // namespace

DefaultFloatingPoint::DefaultFloatingPoint() noexcept : mxcsr_(_mm_getcsr()) {
    const X87Words x87 = read_x87();
    x87_control_ = x87.control;
    x87_status_ = x87.status;
    // The flags stay as they are: they change no result.
    if ((mxcsr_ & ~kMxcsrFlags) != kMxcsrDefault) {
        _mm_setcsr(kMxcsrDefault | (mxcsr_ & kMxcsrFlags));
    }
    if ((x87_control_ & kX87ControlBits) != (kX87Default & kX87ControlBits)) {
        set_x87_control(kX87Default);
    }
}

DefaultFloatingPoint::~DefaultFloatingPoint() {
    const X87Words x87 = read_x87();
    if ((x87.status & kX87Flags) != (x87_status_ & kX87Flags)) {
        set_x87(x87_control_, x87_status_);  // rare: the computation keeps to SSE
    } else if (x87.control != x87_control_) {
        set_x87_control(x87_control_);
    }
    if (_mm_getcsr() != mxcsr_) {
        _mm_setcsr(mxcsr_);
    }
}

#elif defined(__aarch64__)

namespace {

// FPCR: the alternate handling and flush-inputs bits of newer cores (0-1),
// the trap enables (8-12, 15), the rounding mode (22-23), flush-to-zero (24)
// and default NaN (25); all clear by default. glibc's FE_DFL_ENV leaves DN
// as it was, so the bits are set here rather than through it.
constexpr std::uint64_t kFpcrControlBits = 0x3C09F03;

// FPCR and FPSR, in that order.
struct Registers {
    std::uint64_t fpcr, fpsr;
};

Registers read_registers() {
    Registers r;
    __asm__ __volatile__("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(r.fpcr), "=r"(r.fpsr));
    return r;
}

void write_fpcr(std::uint64_t value) { __asm__ __volatile__("msr fpcr, %0" : : "r"(value) : "memory"); }
void write_fpsr(std::uint64_t value) { __asm__ __volatile__("msr fpsr, %0" : : "r"(value) : "memory"); }

}  // namespace

DefaultFloatingPoint::DefaultFloatingPoint() noexcept {
    const Registers host = read_registers();
    fpcr_ = host.fpcr;
    fpsr_ = host.fpsr;
    if ((fpcr_ & kFpcrControlBits) != 0) {
        write_fpcr(fpcr_ & ~kFpcrControlBits);
    }
}

DefaultFloatingPoint::~DefaultFloatingPoint() {
    const Registers now = read_registers();
    if (now.fpcr != fpcr_) {
        write_fpcr(fpcr_);
    }
    if (now.fpsr != fpsr_) {
        write_fpsr(fpsr_);
    }
}

#else

// Elsewhere the C library's environment is all there is.
DefaultFloatingPoint::DefaultFloatingPoint() noexcept {
    std::fegetenv(&host_);
    std::fesetenv(FE_DFL_ENV);
}

DefaultFloatingPoint::~DefaultFloatingPoint() { std::fesetenv(&host_); }

#endif

}  // namespace Pelmora::boundary
