// Calls of the exported record-set functions that report what the host sees.
#pragma once

#include <string>
#include <vector>

#include "pel_arm64.h"

namespace pel_test {

// The value out_json holds before each call; a failed call must leave it.
inline char* sentinel() {
    static char storage;
    return &storage;
}

struct Outcome {
    bool stored = false;     // out_json was changed
    std::string text;        // the buffer's text, when stored
    bool failed = false;     // last_error_message() was not NULL
    std::string error;       // its text
};

// Reads last_error_message() before free_output_buffer, which resets it.
inline Outcome finish(char* out) {
    Outcome o;
    const char* error = last_error_message();
    o.failed = error != nullptr;
    if (o.failed) o.error = error;
    o.stored = out != sentinel();
    if (o.stored) {
        if (out != nullptr) o.text = out;
        free_output_buffer(out);
    }
    return o;
}

inline Outcome call_encode(const char* key, const char* space, int version, int dim, const char* records,
                           bool null_out = false) {
    char* out = sentinel();
    encode(key, space, version, dim, records, null_out ? nullptr : &out);
    return finish(out);
}

inline Outcome call_decode(const char* key, const char* space, int version, int dim, const double* query,
                           const char* records, bool null_out = false) {
    char* out = sentinel();
    decode(key, space, version, dim, query, records, null_out ? nullptr : &out);
    return finish(out);
}

}  // namespace pel_test
