// The host's floating-point settings: every exported function of the three
// libraries, loaded as a host loads them, must give under any rounding mode,
// flush setting, trap mask or set of sticky flags exactly the bytes it gives
// under the default environment, and must leave the host's environment as it
// found it, after a success and after a failure.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "interface/guard.h"

namespace {

// ---------------------------------------------------------------------------
// The environment as a host observes it.

#if defined(__x86_64__)
// MXCSR: flush-to-zero and denormals-are-zero; the flags are bits 0-5.
constexpr std::uint64_t kFlushBits = 0x8040;
constexpr std::uint64_t kControlFlags = 0x3F;
std::uint64_t read_control() { return _mm_getcsr(); }
void write_control(std::uint64_t value) { _mm_setcsr(static_cast<unsigned>(value)); }
std::uint16_t read_x87_control() {
    std::uint16_t control;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    return control;
}
#elif defined(__aarch64__)
// FPCR: flush-to-zero (bit 24); default NaN is bit 25. FPCR holds no flags.
constexpr std::uint64_t kFlushBits = std::uint64_t{1} << 24;
constexpr std::uint64_t kDefaultNaN = std::uint64_t{1} << 25;
constexpr std::uint64_t kControlFlags = 0;
std::uint64_t read_control() {
    std::uint64_t value;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(value));
    return value;
}
void write_control(std::uint64_t value) { __asm__ __volatile__("msr fpcr, %0" : : "r"(value)); }
#endif

struct Snapshot {
    std::fenv_t environment;
    int rounding;
    int flags;
    int traps = 0;                 // the exceptions unmasked
    std::uint64_t control = 0;     // MXCSR or FPCR
    std::uint64_t x87_control = 0;

    static Snapshot take() {
        Snapshot s;
        std::fegetenv(&s.environment);
        s.rounding = std::fegetround();
        s.flags = std::fetestexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
        s.traps = fegetexcept();
#endif
#if defined(__x86_64__) || defined(__aarch64__)
        s.control = read_control();
#endif
#if defined(__x86_64__)
        s.x87_control = read_x87_control();
#endif
        return s;
    }

    // What differs from `other`, empty when nothing does.
    std::string difference(const Snapshot& other) const {
        std::ostringstream out;
        if (rounding != other.rounding) out << " rounding mode " << rounding << " became " << other.rounding << ';';
        if (traps != other.traps) out << " traps 0x" << std::hex << traps << " became 0x" << other.traps << ';';
        if (x87_control != other.x87_control) {
            out << " x87 control 0x" << std::hex << x87_control << " became 0x" << other.x87_control << ';';
        }
        if (flags != other.flags) out << " flags 0x" << std::hex << flags << " became 0x" << other.flags << ';';
        if (control != other.control) {
            out << " control register 0x" << std::hex << control << " became 0x" << other.control << ';';
        }
        if (std::memcmp(&environment, &other.environment, sizeof environment) != 0) out << " fegetenv bytes differ;";
        return out.str();
    }
};

// ---------------------------------------------------------------------------
// Settings a host may have made before it calls. `apply` says false where this
// machine has no such setting.

struct HostSetting {
    const char* name;
    bool (*apply)();
};

bool set_flush_to_zero() {
#if defined(__x86_64__) || defined(__aarch64__)
    write_control(read_control() | kFlushBits);
    return (read_control() & kFlushBits) == kFlushBits;
#else
    return false;
#endif
}

bool set_default_nan() {
#if defined(__aarch64__)
    write_control(read_control() | kDefaultNaN);
    return (read_control() & kDefaultNaN) != 0;
#else
    return false;
#endif
}

// Unmasked, an invalid operation or a division by zero in the call would
// stop the host with SIGFPE. Raised flags are left out: a pending x87 flag
// under an unmasked trap fires at the host's next x87 instruction.
bool set_traps() {
#if defined(__GLIBC__)
    return feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != -1 &&
           fegetexcept() == (FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
#else
    return false;
#endif
}

const HostSetting kHostSettings[] = {
    {"round upward", [] { return std::fesetround(FE_UPWARD) == 0; }},
    {"round downward", [] { return std::fesetround(FE_DOWNWARD) == 0; }},
    {"round toward zero", [] { return std::fesetround(FE_TOWARDZERO) == 0; }},
    {"flush-to-zero and denormals-are-zero", set_flush_to_zero},
    {"default NaN", set_default_nan},
    {"every sticky flag raised", [] { return std::feraiseexcept(FE_ALL_EXCEPT) == 0; }},
    {"invalid, divide-by-zero and overflow trapping", set_traps},
    {"upward, flushing, with flags raised",
     [] { return std::feraiseexcept(FE_INEXACT | FE_UNDERFLOW) == 0 && std::fesetround(FE_UPWARD) == 0 &&
                 set_flush_to_zero(); }},
};

// The environment this process started with, which every case returns to.
class HostEnvironment {
public:
    HostEnvironment() : start_(Snapshot::take()) {}
    void restore() const {
        std::fesetenv(&start_.environment);
#if defined(__x86_64__) || defined(__aarch64__)
        write_control(start_.control);
#endif
    }

private:
    Snapshot start_;
};

// Runs `call` under `setting`; what it returns, and the environment before
// and after, are taken without any arithmetic of the test's own under the
// host's setting.
struct HostRun {
    bool applies = false;
    std::string result;
    std::string changed;  // how the environment differs after the call
};

HostRun run_under(const HostEnvironment& host, const HostSetting& setting, const std::function<std::string()>& call) {
    HostRun run;
    run.applies = setting.apply();
    if (run.applies) {
        const Snapshot before = Snapshot::take();
        run.result = call();
        const Snapshot after = Snapshot::take();
        host.restore();
        run.changed = before.difference(after);
    }
    host.restore();
    return run;
}

// ---------------------------------------------------------------------------
// The libraries.

using VectorFn = void (*)(const char*, const char*, int, int, const double*, double*);
using EncodeFn = void (*)(const char*, const char*, int, int, const char*, char**);
using DecodeFn = void (*)(const char*, const char*, int, int, const double*, const char*, char**);
using FreeFn = void (*)(char*);
using EarlierFn = void (*)(const char*, const double*, int, double*);
using ErrorFn = const char* (*)();
using DriverFn = int (*)();

template <class Function>
Function lookup(void* handle, const char* name) {
    void* address = handle != nullptr ? dlsym(handle, name) : nullptr;
    if (address == nullptr) throw std::runtime_error(std::string("cannot find ") + name);
    return reinterpret_cast<Function>(address);
}

void* open_library(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    return handle;
}

struct Arm64 {
    VectorFn encode_vector, decode_vector;
    EncodeFn encode;
    DecodeFn decode;
    FreeFn free_output_buffer;
    ErrorFn last_error;
    DriverFn main;

    static Arm64 load() {
        void* h = open_library(PEL_ARM64_PATH);
        return {lookup<VectorFn>(h, "encode_vector"), lookup<VectorFn>(h, "decode_vector"),
                lookup<EncodeFn>(h, "encode"),        lookup<DecodeFn>(h, "decode"),
                lookup<FreeFn>(h, "free_output_buffer"), lookup<ErrorFn>(h, "last_error_message"),
                lookup<DriverFn>(h, "main")};
    }
};

struct Earlier {
    const char* name;
    EarlierFn encode, decode;
    ErrorFn last_error;
    DriverFn main;

    static Earlier load(const char* name, const char* path) {
        void* h = open_library(path);
        return {name, lookup<EarlierFn>(h, "encode"), lookup<EarlierFn>(h, "decode"),
                lookup<ErrorFn>(h, "last_error_message"), lookup<DriverFn>(h, "main")};
    }
};

// The bytes of the doubles, then the failure, if any: what the host receives.
std::string outcome(const std::vector<double>& output, const char* error) {
    std::string bytes(reinterpret_cast<const char*>(output.data()), output.size() * sizeof(double));
    return bytes + "|" + (error != nullptr ? error : "ok");
}

std::string outcome(const Arm64& lib, char* text) {
    const char* error = lib.last_error();
    std::string out = text != nullptr ? text : "(nothing stored)";
    out += std::string("|") + (error != nullptr ? error : "ok");
    lib.free_output_buffer(text);
    return out;
}

// Each sealed "meta" emptied: they differ in their IVs alone.
std::string without_sealed_texts(std::string text) {
    for (const std::string member : {"\"meta\":\"", "\"meta\": \""}) {
        for (std::size_t at = text.find(member); at != std::string::npos; at = text.find(member, at)) {
            at += member.size();
            text.erase(at, text.find('"', at) - at);
        }
    }
    return text;
}

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";

// Record sets whose numbers lie where the rounding of their reading matters:
// between two doubles, subnormal, at the edge of the normal range, integers
// beyond 2^53. The same records in three shapes: the array the one-pass route
// takes, and two it declines (a member name with an escape, a set given as an
// object), which go through the JSON document.
std::string record_set(const char* shape) {
    const char* const records[][2] = {
        {"a", R"({"filter":{"w":0.30000000000000004,"t":1e-320},"id":"a","meta":{"x":0.1,"y":1e-310},)"
              R"("vector":[1.0000000000000001,0.5]})"},
        {"b", R"({"filter":{},"id":"b","meta":{"z":2.2250738585072011e-308},"vector":[0.1,-2.2250738585072011e-308]})"},
        {"c", R"({"filter":{"n":123456789012345678901},"id":"c","meta":[],"vector":[1e-310,3]})"},
        {"d", R"({"filter":{},"id":"d","meta":"","vector":[123456789012345678901,7.000000000000001e-5]})"},
    };
    const std::string kind = shape;
    std::string text = kind == "object" ? "{" : "[";
    for (const auto& record : records) {
        if (text.size() > 1) text += ',';
        if (kind == "object") text += std::string("\"") + record[0] + "\":";
        std::string body = record[1];
        if (kind == "escaped") body.replace(body.find("\"id\""), 4, "\"\\u0069d\"");
        text += body;
    }
    return text + (kind == "object" ? "}" : "]");
}

// A codec the record-set calls use: profile, metric and a query whose
// similarity shows the rounding (a subnormal one for the inner product).
struct RecordCodec {
    const char* space;
    int version;
    std::vector<double> query;
};

const RecordCodec kRecordCodecs[] = {
    {"COSINE", 1, {0.6, -0.8}},
    {"INNER_PRODUCT", 2, {1e-310, 1e-310}},
};

struct Call {
    std::string name;
    std::function<std::string()> run;
    // Applied to the result after the call, under the default environment.
    std::function<std::string(const std::string&)> comparable = [](const std::string& s) { return s; };
};

class FloatingPointTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        arm64_ = new Arm64(Arm64::load());
        earlier_ = new std::vector<Earlier>{Earlier::load("pellib", PEL_PELLIB_PATH),
                                            Earlier::load("libpel_linux", PEL_LINUX_PATH)};
    }
    static void TearDownTestSuite() {
        delete arm64_;
        delete earlier_;
    }

    // An encoded set as the default environment makes it, for the decoding calls.
    static std::string encoded(const RecordCodec& codec) {
        char* out = nullptr;
        arm64_->encode(kKey, codec.space, codec.version, 2, record_set("array").c_str(), &out);
        const std::string text = out != nullptr ? out : "";
        arm64_->free_output_buffer(out);
        return text;
    }

    // An encoding's vectors and its other members as they are, and its sealed
    // texts opened (by a decode under the default environment).
    static std::string opened(const RecordCodec& codec, const std::string& result) {
        const std::string text = result.substr(0, result.find('|'));
        char* out = nullptr;
        arm64_->decode(kKey, codec.space, codec.version, 2, codec.query.data(), text.c_str(), &out);
        return without_sealed_texts(result) + "\nopened: " + outcome(*arm64_, out);
    }

    static std::vector<Call> calls();

    static Arm64* arm64_;
    static std::vector<Earlier>* earlier_;
};

Arm64* FloatingPointTest::arm64_ = nullptr;
std::vector<Earlier>* FloatingPointTest::earlier_ = nullptr;

std::vector<Call> FloatingPointTest::calls() {
    std::vector<Call> calls;
    const Arm64& lib = *arm64_;
    // Components of every kind, an all-zero vector (NaN through the noise: an
    // invalid operation) and, to decode, an encoding.
    const std::vector<double> input = {0.1, -1.0000000000000002, 1e-310, 3.0, -2.2250738585072014e-308};
    const std::vector<double> zeros(5, 0.0);
    std::vector<double> encoding(5);
    lib.encode_vector(kKey, "COSINE", 1, 5, input.data(), encoding.data());
    const auto vector_call = [&](const char* name, VectorFn fn, const char* key, int version,
                                 const std::vector<double>& in) {
        calls.push_back({name, [&lib, fn, key, version, in] {
                             std::vector<double> out(in.size(), -1.0);
                             fn(key, "COSINE", version, static_cast<int>(in.size()), in.data(), out.data());
                             return outcome(out, lib.last_error());
                         }});
    };
    vector_call("encode_vector", lib.encode_vector, kKey, 1, input);
    vector_call("encode_vector of zeros", lib.encode_vector, kKey, 2, zeros);
    vector_call("decode_vector", lib.decode_vector, kKey, 1, encoding);
    vector_call("decode_vector, failing (version 3)", lib.decode_vector, kKey, 3, encoding);

    for (const RecordCodec& codec : kRecordCodecs) {
        const std::string where = std::string(" (") + codec.space + ")";
        for (const char* shape : {"array", "escaped", "object"}) {
            const std::string text = record_set(shape);
            calls.push_back({std::string("encode, ") + shape + where,
                             [&lib, codec, text] {
                                 char* out = nullptr;
                                 lib.encode(kKey, codec.space, codec.version, 2, text.c_str(), &out);
                                 return outcome(lib, out);
                             },
                             [codec](const std::string& result) { return opened(codec, result); }});
        }
        const std::string plain = encoded(codec);
        std::string escaped = plain;
        for (std::size_t at; (at = escaped.find("\"id\"")) != std::string::npos;) {
            escaped.replace(at, 4, "\"\\u0069d\"");
        }
        for (const auto& shaped : {std::pair<const char*, std::string>{"array", plain}, {"escaped", escaped}}) {
            const std::string text = shaped.second;
            calls.push_back({std::string("decode, ") + shaped.first + where, [&lib, codec, text] {
                                 char* out = nullptr;
                                 lib.decode(kKey, codec.space, codec.version, 2, codec.query.data(), text.c_str(),
                                            &out);
                                 return outcome(lib, out);
                             }});
        }
    }
    calls.push_back({"encode, failing (a key of 10 bytes)", [&lib] {
                         char* out = nullptr;
                         lib.encode("7e41c09b2d5fa38816cb", "L2", 1, 2, record_set("array").c_str(), &out);
                         return outcome(lib, out);
                     }});
    const std::string of_dimension_2 = encoded(kRecordCodecs[0]);
    calls.push_back({"decode, failing (vectors of 2 numbers at dimension 3)", [&lib, of_dimension_2] {
                         char* out = nullptr;
                         const double query[] = {1.0, 2.0, 3.0};
                         lib.decode(kKey, "COSINE", 1, 3, query, of_dimension_2.c_str(), &out);
                         return outcome(lib, out);
                     }});

    for (const Earlier& e : *earlier_) {
        const std::vector<double> earlier_input = {0.3, -1.25, 2.0, 1e-310};
        std::vector<double> earlier_encoding(4);
        e.encode(kKey, earlier_input.data(), 4, earlier_encoding.data());
        const auto earlier_call = [&](const std::string& name, EarlierFn fn, const char* key,
                                      const std::vector<double>& in) {
            const ErrorFn last_error = e.last_error;
            calls.push_back({name, [fn, key, in, last_error] {
                                 std::vector<double> out(in.size(), -1.0);
                                 fn(key, in.data(), static_cast<int>(in.size()), out.data());
                                 return outcome(out, last_error());
                             }});
        };
        earlier_call(std::string(e.name) + " encode", e.encode, kKey, earlier_input);
        earlier_call(std::string(e.name) + " decode", e.decode, kKey, earlier_encoding);
        earlier_call(std::string(e.name) + " encode, failing (no digit in a key field)", e.encode,
                     "zzzz7e41c09b2d5f", earlier_input);
    }

    // The drivers print the numbers they compute; their random vectors come
    // from rand(), seeded alike before every run.
    const auto driver_call = [&](const std::string& name, DriverFn main) {
        calls.push_back({name, [main] {
                             std::srand(1);
                             ::testing::internal::CaptureStdout();
                             const int status = main();
                             return ::testing::internal::GetCapturedStdout() + "|status " + std::to_string(status);
                         },
                         [](const std::string& result) { return without_sealed_texts(result); }});
    };
    driver_call("libpel_arm64 main", lib.main);
    for (const Earlier& e : *earlier_) driver_call(std::string(e.name) + " main", e.main);

    // What a call writes to stderr is part of what the host sees.
    for (Call& call : calls) {
        call.run = [run = std::move(call.run)] {
            ::testing::internal::CaptureStderr();
            const std::string result = run();
            return result + "|stderr: " + ::testing::internal::GetCapturedStderr();
        };
    }
    return calls;
}

TEST_F(FloatingPointTest, ExportsGiveTheDefaultEnvironmentsBytesAndLeaveTheHostsEnvironment) {
    const HostEnvironment host;
    std::string absent;
    for (const HostSetting& setting : kHostSettings) {
        if (!run_under(host, setting, [] { return std::string(); }).applies) {
            absent += std::string(" ") + setting.name + ";";
        }
    }
    std::cout << "[ settings ] not on this machine:" << (absent.empty() ? " none" : absent) << std::endl;
    const std::vector<Call> all = calls();
    for (const Call& call : all) {
        SCOPED_TRACE(call.name);
        const std::string expected = call.comparable(call.run());
        const bool succeeds =
            expected.find("|ok|") != std::string::npos || expected.find("|status 0|") != std::string::npos;
        EXPECT_EQ(call.name.find("failing") == std::string::npos, succeeds) << expected;
        for (const HostSetting& setting : kHostSettings) {
            SCOPED_TRACE(setting.name);
            const HostRun run = run_under(host, setting, call.run);
            if (!run.applies) continue;
            EXPECT_EQ(expected, call.comparable(run.result));
            EXPECT_EQ("", run.changed);
        }
    }
    // The declined shapes are held to the one-pass route's bytes, not only to
    // their own under the default environment.
    for (const char* space : {"COSINE", "INNER_PRODUCT"}) {
        const std::string where = std::string(" (") + space + ")";
        const auto result = [&](const std::string& name) {
            for (const Call& call : all) {
                if (call.name == name) return call.comparable(call.run());
            }
            return std::string("no call ") + name;
        };
        EXPECT_EQ(result("encode, array" + where), result("encode, escaped" + where));
        EXPECT_EQ(result("encode, array" + where), result("encode, object" + where));
        EXPECT_EQ(result("decode, array" + where), result("decode, escaped" + where));
    }
}

// ---------------------------------------------------------------------------
// The guard itself: what a body computes under, and what is left after it,
// whether it returns or throws.

// 1/3 rounded: to nearest below, upward above; the guard's body must see the
// former whatever the host set.
double third() {
    volatile double one = 1.0, three = 3.0;
    return one / three;
}

TEST(DefaultFloatingPoint, BodiesComputeUnderTheDefaultAndTheHostGetsItsOwnBack) {
    const HostEnvironment host;
    const double nearest = third();
    for (const HostSetting& setting : kHostSettings) {
        SCOPED_TRACE(setting.name);
        for (const bool throws : {false, true}) {
            SCOPED_TRACE(throws ? "the body throws" : "the body returns");
            if (!setting.apply()) break;
            const Snapshot before = Snapshot::take();
            double inside = 0.0;
            Snapshot during;
            Pelmora::boundary::guarded("test", [&] {
                inside = third();
                during = Snapshot::take();
                if (throws) throw std::runtime_error("the body failed");
            });
            const Snapshot after = Snapshot::take();
            const bool failed = Pelmora::boundary::last_error() != nullptr;
            host.restore();
            EXPECT_EQ("", before.difference(after));
            EXPECT_EQ(throws, failed);
            EXPECT_EQ(nearest, inside);
            EXPECT_EQ(FE_TONEAREST, during.rounding);
            EXPECT_EQ(0, during.traps);
#if defined(__x86_64__)
            EXPECT_EQ(0x1F80u, during.control & ~kControlFlags) << std::hex << during.control;
            EXPECT_EQ(0x033Fu, during.x87_control & 0x0F3F) << std::hex << during.x87_control;
#elif defined(__aarch64__)
            // Round to nearest, no flushing, no default NaN, no trap enabled.
            EXPECT_EQ(0u, during.control & 0x3C09F03) << std::hex << during.control;
#endif
        }
    }
}

// The guard sets the registers itself; what it sets is the C library's
// default environment, which on x86-64 clears flush-to-zero and
// denormals-are-zero and on aarch64 flush-to-zero. glibc's keeps FPCR's
// default-NaN bit on aarch64, which the guard clears as well.
TEST(DefaultFloatingPoint, IsTheCLibrarysDefaultEnvironment) {
    const HostEnvironment host;
    for (const HostSetting& setting : kHostSettings) {
        SCOPED_TRACE(setting.name);
        if (!setting.apply()) continue;
        Snapshot guarded;
        {
            const Pelmora::boundary::DefaultFloatingPoint environment;
            guarded = Snapshot::take();
        }
        host.restore();
        setting.apply();
        std::fesetenv(FE_DFL_ENV);
        const Snapshot library_default = Snapshot::take();
        host.restore();
        EXPECT_EQ(library_default.rounding, guarded.rounding);
        EXPECT_EQ(library_default.traps, guarded.traps);
#if defined(__x86_64__)
        EXPECT_EQ(0u, library_default.control & kFlushBits) << std::hex << library_default.control;
        EXPECT_EQ(library_default.control & ~kControlFlags, guarded.control & ~kControlFlags);
        EXPECT_EQ(library_default.x87_control, guarded.x87_control);
#elif defined(__aarch64__)
        EXPECT_EQ(0u, library_default.control & kFlushBits) << std::hex << library_default.control;
        EXPECT_EQ(library_default.control & ~kDefaultNaN, guarded.control);
        if ((library_default.control & kDefaultNaN) != 0) {
            std::cout << "[ fenv     ] FE_DFL_ENV keeps FPCR.DN; the guard clears it\n";
        }
#endif
    }
}

}  // namespace
