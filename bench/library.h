// Access to the built shared libraries the way a host reaches them: loaded by
// path at run time and called only through their unmangled exported symbols,
// so every measured call crosses the same boundary a host's call does.
#pragma once

#include <string>

namespace pel_bench {

// The exported signatures, written out by hand because libpel_arm64 and the
// earlier libraries both export an `encode` and a `decode` with different
// arguments; abi_check_*.cpp compare them with the public headers.
using VectorFn = void (*)(const char* key, const char* space, int version, int dim, const double* input,
                          double* output);
using EncodeRecordsFn = void (*)(const char* key, const char* space, int version, int dim,
                                 const char* records_json, char** out_json);
using DecodeRecordsFn = void (*)(const char* key, const char* space, int version, int dim, const double* query,
                                 const char* records_json, char** out_json);
using FreeBufferFn = void (*)(char* buffer);
using LastErrorFn = const char* (*)();
using EarlierVectorFn = void (*)(const char* key, const double* input, int dim, double* output);

// libpel_arm64 as a host sees it.
struct Arm64 {
    VectorFn encode_vector;
    VectorFn decode_vector;
    EncodeRecordsFn encode;
    DecodeRecordsFn decode;
    FreeBufferFn free_output_buffer;
    LastErrorFn last_error_message;
};

// pellib or libpel_linux as a host sees it.
struct Earlier {
    EarlierVectorFn encode;
    EarlierVectorFn decode;
    LastErrorFn last_error_message;
};

// Each loads its library once (RTLD_LOCAL, so same-named exports of two
// libraries never resolve to each other) and keeps it loaded for the life of
// the process. Throws std::runtime_error naming the path or symbol on failure.
const Arm64& load_arm64(const std::string& path);
const Earlier& load_earlier(const std::string& path);

}  // namespace pel_bench
