#include "interface/guard.h"

#include <pthread.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>

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
volatile int exceptions_ready = std::uncaught_exceptions();

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

}  // namespace Pelmora::boundary
