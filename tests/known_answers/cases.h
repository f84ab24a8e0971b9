// What the known answers are made of, shared by the program that recorded them
// and the test that holds the libraries to them: the inputs (made from integers,
// so they are the same doubles on every platform), the three libraries as a host
// loads them, and the line format of the answers file.
//
// Answers file, one record per line, fields separated by tabs:
//   vector   NAME LIBRARY CALL KEY METRIC VERSION DIM INPUT  HEX...
//   records  NAME CALL KEY METRIC VERSION DIM QUERY INPUT  OUTPUT
//   angles   FIELD3 POLICY  HEX...
//   platform PLATFORM NAME  HEX...
//   cases    COUNT
// METRIC and VERSION are "-" for the earlier libraries, QUERY for encode. INPUT
// is an input spec (see make_input) or "case:NAME", the recorded output of an
// earlier line. HEX are the bit patterns of the output doubles; OUTPUT is the
// JSON text the call returned. An angles line holds, for the rotation field of
// a key, the bits of every angle the recorded cases draw with it and of its
// cosine and sine as the recording machine's C library gave them. A platform
// line holds a vector case's output on a platform where it differs from the
// x86-64 one (the earlier libraries' dense kernels fuse multiply-adds on
// aarch64); there it replaces the output, also as the input of the decodings
// that name the case. The last line counts the vector and records lines.
#pragma once

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bits.h"

namespace known_answers {

using pel_test::from_bits;
inline std::uint64_t bits_of(double value) { return pel_test::bits(value); }

inline std::string hex(double value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits_of(value)));
    return text;
}

inline std::string hex_list(const std::vector<double>& values) {
    std::string out;
    for (const double v : values) {
        if (!out.empty()) out += ' ';
        out += hex(v);
    }
    return out;
}

inline std::vector<double> parse_hex_list(const std::string& text) {
    std::vector<double> values;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        values.push_back(from_bits(std::stoull(word, nullptr, 16)));
    }
    return values;
}

inline std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

struct Case {
    std::string kind;  // "vector" or "records"
    std::string name, library, call, key, metric, query, input, output;
    int version = 0;
    int dim = 0;
};

// Test names and messages show a case by its name.
inline void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

struct Angle {
    double angle, cos, sin;
};

struct Answers {
    std::vector<Case> cases;
    std::map<std::string, std::string> outputs;                         // by case name
    std::map<std::pair<std::string, bool>, std::vector<Angle>> angles;  // by (rotation field, fused)
    int declared = -1;
};

// The answers file as it holds for `platform` ("" for x86-64).
inline Answers load_answers(const std::string& path, const std::string& platform) {
    Answers a;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::map<std::string, std::string> own;  // this platform's outputs
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = split_tabs(line);
        if (f[0] == "vector" && f.size() == 10) {
            Case c{f[0], f[1], f[2], f[3], f[4], f[5], "-", f[8], f[9]};
            c.version = f[6] == "-" ? 0 : std::stoi(f[6]);
            c.dim = std::stoi(f[7]);
            a.cases.push_back(c);
        } else if (f[0] == "records" && f.size() == 10) {
            Case c{f[0], f[1], "libpel_arm64", f[2], f[3], f[4], f[7], f[8], f[9]};
            c.version = std::stoi(f[5]);
            c.dim = std::stoi(f[6]);
            a.cases.push_back(c);
        } else if (f[0] == "angles" && f.size() >= 3) {
            std::vector<Angle>& list = a.angles[{f[1], f[2] == "fused"}];
            for (std::size_t i = 3; i < f.size(); ++i) {
                const std::vector<double> t = parse_hex_list(f[i]);
                list.push_back({t.at(0), t.at(1), t.at(2)});
            }
        } else if (f[0] == "platform" && f.size() == 4) {
            if (f[1] == platform) own[f[2]] = f[3];
        } else if (f[0] == "cases" && f.size() == 2) {
            a.declared = std::stoi(f[1]);
        } else {
            throw std::runtime_error("malformed line in " + path + ": " + line.substr(0, 80));
        }
    }
    for (Case& c : a.cases) {
        const auto found = own.find(c.name);
        if (found != own.end()) c.output = found->second;
        a.outputs[c.name] = c.output;
    }
    return a;
}

// SplitMix64: a fixed integer sequence, independent of the standard library.
inline std::uint64_t next_integer(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The inputs a spec names, "KIND" or "KIND:SEED":
//   random      components j * 2^-52 with j uniform in [-2^52, 2^52): exact
//   zeros       every component +0.0
//   signed      random, with -0.0 first, +0.0 last and a subnormal second
//   subnormals  every component a small multiple of the least subnormal, so
//               that the squared norm underflows to zero
//   huge        random times 2^1000, so that the squared norm overflows
//   integers    the whole numbers 1 .. dim, alternating in sign
inline std::vector<double> make_input(const std::string& spec, int dim) {
    const std::size_t colon = spec.find(':');
    const std::string kind = spec.substr(0, colon);
    std::uint64_t state = colon == std::string::npos ? 0 : std::stoull(spec.substr(colon + 1));
    std::vector<double> v(static_cast<std::size_t>(dim));
    auto unit = [&] {
        const auto j = static_cast<std::int64_t>(next_integer(state) >> 11) - (std::int64_t{1} << 52);
        return std::ldexp(static_cast<double>(j), -52);
    };
    if (kind == "random" || kind == "signed" || kind == "huge") {
        for (double& x : v) x = unit();
        if (kind == "huge") {
            for (double& x : v) x = std::ldexp(x, 1000);
        }
        if (kind == "signed" && dim >= 3) {
            v.front() = -0.0;
            v[1] = 3 * std::numeric_limits<double>::denorm_min();
            v.back() = 0.0;
        }
    } else if (kind == "zeros") {
        for (double& x : v) x = 0.0;
    } else if (kind == "subnormals") {
        for (double& x : v) x = static_cast<double>(next_integer(state) % 1000) * std::numeric_limits<double>::denorm_min();
    } else if (kind == "integers") {
        for (int i = 0; i < dim; ++i) v[static_cast<std::size_t>(i)] = i % 2 == 0 ? i + 1 : -(i + 1);
    } else {
        throw std::invalid_argument("unknown input kind \"" + kind + "\"");
    }
    return v;
}

// The key's rotation field, characters 12 to 15, which alone decides the angles.
inline std::string rotation_field(const std::string& key) { return key.substr(12, 4); }

// The first `count` rotation angles of a rotation field: the generator's draws
// from [-pi/2, pi/2), with one rounding (fused) or two. Only used to tell a C
// library whose cosine and sine differ from a codec that does.
inline std::vector<double> rotation_angles(const std::string& field, bool fused, int count) {
    std::uint64_t state = static_cast<std::uint64_t>(std::stoi(field, nullptr, 16));
    std::vector<double> angles;
    for (int k = 0; k < count; ++k) {
        state = (1674535 * state + 0x3D07B0EF) % (std::uint64_t{1} << 32);
        const double u = static_cast<double>(state) / 4294967296.0;
        const double width = 3.141592653589793;
        angles.push_back(fused ? std::fma(width, u, -1.5707963267948966) : width * u + -1.5707963267948966);
    }
    return angles;
}

using VectorCall = void (*)(const char*, const char*, int, int, const double*, double*);
using EarlierCall = void (*)(const char*, const double*, int, double*);
using EncodeRecords = void (*)(const char*, const char*, int, int, const char*, char**);
using DecodeRecords = void (*)(const char*, const char*, int, int, const double*, const char*, char**);
using FreeBuffer = void (*)(char*);
using LastError = const char* (*)();

// One loaded library's exports; the earlier libraries fill encode and decode.
struct Library {
    std::string name;
    VectorCall encode_vector = nullptr;
    VectorCall decode_vector = nullptr;
    EncodeRecords encode_records = nullptr;
    DecodeRecords decode_records = nullptr;
    FreeBuffer free_output_buffer = nullptr;
    EarlierCall encode = nullptr;
    EarlierCall decode = nullptr;
    LastError last_error_message = nullptr;
};

template <class Function>
Function symbol(void* handle, const std::string& library, const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr) throw std::runtime_error(library + " has no " + name);
    return reinterpret_cast<Function>(address);
}

inline Library load(const std::string& name, const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
    Library lib;
    lib.name = name;
    lib.last_error_message = symbol<LastError>(handle, name, "last_error_message");
    if (name == "libpel_arm64") {
        lib.encode_vector = symbol<VectorCall>(handle, name, "encode_vector");
        lib.decode_vector = symbol<VectorCall>(handle, name, "decode_vector");
        lib.encode_records = symbol<EncodeRecords>(handle, name, "encode");
        lib.decode_records = symbol<DecodeRecords>(handle, name, "decode");
        lib.free_output_buffer = symbol<FreeBuffer>(handle, name, "free_output_buffer");
    } else {
        lib.encode = symbol<EarlierCall>(handle, name, "encode");
        lib.decode = symbol<EarlierCall>(handle, name, "decode");
    }
    return lib;
}

// One call of a vector function; throws with the library's reason if it fails.
inline std::vector<double> call_vector(const Library& lib, const std::string& call, const std::string& key,
                                       const std::string& metric, int version, const std::vector<double>& input) {
    std::vector<double> output(input.size(), -12345.678);
    const int dim = static_cast<int>(input.size());
    if (lib.encode_vector != nullptr) {
        (call == "encode" ? lib.encode_vector : lib.decode_vector)(key.c_str(), metric.c_str(), version, dim,
                                                                    input.data(), output.data());
    } else {
        (call == "encode" ? lib.encode : lib.decode)(key.c_str(), input.data(), dim, output.data());
    }
    if (const char* error = lib.last_error_message()) {
        throw std::runtime_error(lib.name + " " + call + " failed: " + error);
    }
    return output;
}

// One call of a record-set function of libpel_arm64: the text it returned.
inline std::string call_records(const Library& lib, const std::string& call, const std::string& key,
                                const std::string& metric, int version, int dim, const std::vector<double>& query,
                                const std::string& records) {
    char* out = nullptr;
    if (call == "encode") {
        lib.encode_records(key.c_str(), metric.c_str(), version, dim, records.c_str(), &out);
    } else {
        lib.decode_records(key.c_str(), metric.c_str(), version, dim, query.data(), records.c_str(), &out);
    }
    if (const char* error = lib.last_error_message()) {
        throw std::runtime_error("record-set " + call + " failed: " + error);
    }
    std::string text = out;
    lib.free_output_buffer(out);
    return text;
}

}  // namespace known_answers
