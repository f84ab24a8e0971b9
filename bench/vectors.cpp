// One bare vector through each library's exported vector functions:
// libpel_arm64's encode_vector / decode_vector under both parameter profiles,
// and the earlier encode / decode of pellib and libpel_linux. Every call builds
// the codec from the key again, so these times are what a host pays per call.
//
// Beside them, for libpel_arm64:
//   floor/...         what no implementation of the format avoids in one call:
//                     the generator's draws, the cosine and sine of every angle,
//                     and the call's norms (and, decoding, its dot product);
//   sparse_route/...  the same call through the sparse products and the sparse
//                     inverse, the route the codec took before its block form.
// and the part of every exported call that sets the default floating-point
// environment and gives the host's back (boundary/floating_point).
//
// For the earlier libraries, up to dimension 4096, each case also reports
//   peak_MB     the peak resident memory of a process that loads the library
//               and makes the one call (measured in a fresh process),
//   call_MB     what of it the call added.
// --pel_baseline_pellib=PATH and --pel_baseline_linux=PATH time an earlier
// build of pellib and libpel_linux the same way, as baseline/<library>/...,
// and the summary sets each against it.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common.h"
#include "interface/guard.h"
#include "library.h"
#include "peak.h"
#include "reference/sparse_route.h"
#include "summary.h"
#include "transform/fma_clones.h"
#include "transform/pelmo.h"
#include "transform/random.h"
#include "transform/stages.h"
#include "transform/utils.h"

namespace pel_bench {
namespace {

constexpr int kDims[] = {128, 768, 1536};
constexpr int kEarlierDims[] = {128, 768, 1536, 3072, 4096};
constexpr int kVersions[] = {1, 2};

// A smoke run skips the peak-memory processes, which serve only the numbers.
bool g_smoke = false;

// One earlier library under test: pellib or libpel_linux, of this build or of
// the baseline's.
struct EarlierLibrary {
    std::string name;  // the cases' prefix
    std::string path;
    const Earlier* api = nullptr;
};

// Times `call(input, output)` on one vector of `dim` components. Decoding is
// measured on a real encoding, made by `encode` first, as a host would call it.
template <class Encode, class Call>
void time_vector_call(benchmark::State& state, const char* (*last_error)(), int dim, bool decoding,
                      Encode encode, Call call) {
    const std::vector<double> plain = random_vector(dim, 1000 + static_cast<unsigned>(dim));
    std::vector<double> input = plain;
    std::vector<double> output(plain.size());
    if (decoding) {
        encode(plain.data(), input.data());
        if (const char* e = last_error()) {
            state.SkipWithError(e);
            return;
        }
    }
    for (auto _ : state) {
        call(input.data(), output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    if (const char* e = last_error()) {
        state.SkipWithError(e);
        return;
    }
    state.SetItemsProcessed(state.iterations());
}

void arm64_vector(benchmark::State& state, const Arm64* lib, bool decoding, int version, int dim) {
    const VectorFn fn = decoding ? lib->decode_vector : lib->encode_vector;
    time_vector_call(
        state, lib->last_error_message, dim, decoding,
        [&](const double* in, double* out) { lib->encode_vector(kKey, kSpace, version, dim, in, out); },
        [&](const double* in, double* out) { fn(kKey, kSpace, version, dim, in, out); });
}

// Runs in a fresh process (argv: --pel_peak_child <library> <op> <dim>): makes
// the case's input (an encoding, for decode) with the library, then the one
// call, and prints "<resident kB before> <peak kB> <failed>".
int peak_child(const std::string& path, const std::string& op, int dim) {
    const Earlier& lib = load_earlier(path);
    std::vector<double> input = random_vector(dim, 1000 + static_cast<unsigned>(dim));
    std::vector<double> output(input.size());
    if (op == "decode") {
        lib.encode(kKey, input.data(), dim, output.data());
        input = output;
    }
    malloc_trim(0);
    if (!reset_peak()) {
        std::printf("-1 -1 0\n");
        return 0;
    }
    const long base = status_kib("VmRSS:");
    (op == "decode" ? lib.decode : lib.encode)(kKey, input.data(), dim, output.data());
    const long peak = status_kib("VmHWM:");
    std::printf("%ld %ld %d\n", base, peak, lib.last_error_message() != nullptr ? 1 : 0);
    return 0;
}

// The peak resident kB of a process making the call, and what the call added;
// NaN when it cannot be measured. Once per library, operation and dimension.
std::pair<double, double> cached_peak(const EarlierLibrary& lib, const char* op, int dim) {
    static std::map<std::tuple<std::string, std::string, int>, std::pair<double, double>> cache;
    const auto key = std::make_tuple(lib.path, std::string(op), dim);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const std::optional<std::string> reply = run_self({"--pel_peak_child", lib.path, op, std::to_string(dim)}, "");
        long base = -1;
        long peak = -1;
        int failed = 1;
        std::pair<double, double> kib(std::nan(""), std::nan(""));
        if (reply && std::sscanf(reply->c_str(), "%ld %ld %d", &base, &peak, &failed) == 3 && base >= 0 &&
            peak >= 0 && failed == 0) {
            kib = {static_cast<double>(peak), static_cast<double>(peak - base)};
        } else {
            std::cerr << "note: no peak memory for " << lib.name << " " << op << " " << dim << "\n";
        }
        it = cache.emplace(key, kib).first;
    }
    return it->second;
}

void earlier_vector(benchmark::State& state, const EarlierLibrary* lib, bool decoding, int dim) {
    const Earlier& api = *lib->api;
    const EarlierVectorFn fn = decoding ? api.decode : api.encode;
    time_vector_call(
        state, api.last_error_message, dim, decoding,
        [&](const double* in, double* out) { api.encode(kKey, in, dim, out); },
        [&](const double* in, double* out) { fn(kKey, in, dim, out); });
    if (!g_smoke && !state.error_occurred()) {
        const auto [peak, added] = cached_peak(*lib, decoding ? "decode" : "encode", dim);
        state.counters["peak_MB"] = peak / 1024.0;
        state.counters["call_MB"] = added / 1024.0;
    }
}

// The generator's draws of one call and the cosine and sine of every angle,
// compiled as the codec's kernels are; the noise direction goes to `direction`.
PEL_KERNEL double floor_draws(const std::string& key, const Pelmora::Profile& p, int dim, double* direction) {
    using namespace Pelmora;
    double sink = 0.0;
    Random scale(key_seed(parse_key_field(key, 1)));
    Random shear(key_seed(parse_key_field(key, 2)));
    Random rotation(key_seed(parse_key_field(key, 3)));
    Random noise(key_seed(parse_key_field(key, 0)));
    for (int i = 0; p.scale_enabled && i < dim; ++i) {
        sink += scale.range(p.scale_min, p.scale_max);
    }
    for (int k = 0; k < dim / 2; ++k) {
        const double angle = rotation.range(kAngleMin, kAngleMax);
        sink += shear.range(p.shear_min, p.shear_max) + std::cos(angle) + std::sin(angle);
    }
    sink += noise.range(p.noise_min, p.noise_max);
    for (int i = 0; i < dim; ++i) {
        direction[i] = 2.0 * noise.next() - 1.0;
    }
    return sink;
}

void floor_case(benchmark::State& state, bool decoding, int version, int dim) {
    using namespace Pelmora;
    const Pelmo codec(kKey, kSpace, version, dim);
    const std::vector<double> plain = random_vector(dim, 1000 + static_cast<unsigned>(dim));
    const Vector v = Eigen::Map<const Vector>(plain.data(), dim);
    for (auto _ : state) {
        Vector direction(dim);
        double sink = floor_draws(codec.key(), codec.profile(), dim, direction.data());
        sink += direction.norm() + v.norm() + (v + direction).norm();
        if (decoding) {
            sink += v.dot(direction);
        }
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations());
}

// As the exported function does it: copy in, build the codec, transform, copy out.
void sparse_route_case(benchmark::State& state, const Arm64* lib, bool decoding, int version, int dim) {
    const std::vector<double> plain = random_vector(dim, 1000 + static_cast<unsigned>(dim));
    std::vector<double> input = plain;
    std::vector<double> output(plain.size());
    if (decoding) {
        lib->encode_vector(kKey, kSpace, version, dim, plain.data(), input.data());
    }
    for (auto _ : state) {
        const Pelmora::Pelmo codec(kKey, kSpace, version, dim);
        Pelmora::Vector v = Eigen::Map<const Pelmora::Vector>(input.data(), dim);
        if (decoding) {
            pel_reference::decode_vector(codec, v, Pelmora::Utils::invertMatrix);
        } else {
            pel_reference::encode_vector(codec, v);
        }
        std::copy(v.data(), v.data() + v.size(), output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// What the guard of every exported call adds for the floating-point
// environment: for a host that changed no setting, and for one that rounds
// upward, whose environment is replaced for the call and put back.
void floating_point_case(benchmark::State& state, int host_rounding) {
    const int before = std::fegetround();
    std::fesetround(host_rounding);
    for (auto _ : state) {
        const Pelmora::boundary::DefaultFloatingPoint environment;
        benchmark::ClobberMemory();
    }
    std::fesetround(before);
    state.SetItemsProcessed(state.iterations());
}

std::string arm64_name(const char* op, int version, int dim) {
    return std::string("pel_arm64/") + op + "/v" + std::to_string(version) + "/" + std::to_string(dim);
}

std::string case_name(const char* kind, const char* op, int version, int dim) {
    return std::string(kind) + "/" + op + "/v" + std::to_string(version) + "/" + std::to_string(dim);
}

std::string earlier_name(const char* lib, const char* op, int dim) {
    return std::string(lib) + "/" + op + "/" + std::to_string(dim);
}

std::vector<Target> targets(bool with_earlier, bool with_baseline) {
    std::vector<Target> t;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int dim : kDims) {
        for (int version : kVersions) {
            const std::string label =
                "decode_vector/encode_vector v" + std::to_string(version) + " dim " + std::to_string(dim);
            const std::string dec = arm64_name("decode_vector", version, dim);
            const std::string enc = arm64_name("encode_vector", version, dim);
            t.push_back({label, [dec, enc](const Table& table) { return time_ratio(table, dec, enc); },
                         dim >= 768 ? 1.5 : nan});
        }
    }
    // Each call against the floor, and against the sparse route: at most an
    // eighth of its time is the 8x speed-up.
    for (int dim : kDims) {
        for (int version : kVersions) {
            for (const char* op : {"encode_vector", "decode_vector"}) {
                const std::string call = arm64_name(op, version, dim);
                const std::string floor = case_name("floor", op, version, dim);
                const std::string route = case_name("sparse_route", op, version, dim);
                const std::string where = std::string(op) + " v" + std::to_string(version) + " dim " + std::to_string(dim);
                t.push_back({where + " / floor", [call, floor](const Table& table) { return time_ratio(table, call, floor); },
                             dim == 1536 ? 1.5 : nan});
                t.push_back({where + " / sparse route",
                             [call, route](const Table& table) { return time_ratio(table, call, route); },
                             dim >= 768 ? 0.125 : nan});
            }
        }
    }
    for (const char* host : {"default", "upward"}) {
        const std::string guard = std::string("boundary/floating_point/") + host;
        for (int dim : kDims) {
            const std::string call = arm64_name("encode_vector", 2, dim);
            t.push_back({std::string("floating-point environment, host ") + host + " / encode_vector v2 dim " +
                             std::to_string(dim),
                         [guard, call](const Table& table) { return time_ratio(table, guard, call); }, nan});
        }
    }
    if (with_earlier) {
        for (const char* lib : {"pellib", "pel_linux"}) {
            for (int dim : kEarlierDims) {
                const std::string dec = earlier_name(lib, "decode", dim);
                const std::string enc = earlier_name(lib, "encode", dim);
                t.push_back({std::string(lib) + " decode/encode dim " + std::to_string(dim),
                             [dec, enc](const Table& table) { return time_ratio(table, dec, enc); }, nan});
            }
        }
        for (int dim : kEarlierDims) {
            for (const char* op : {"encode", "decode"}) {
                const std::string a = earlier_name("pel_linux", op, dim);
                const std::string b = earlier_name("pellib", op, dim);
                t.push_back({std::string("pel_linux/pellib ") + op + " dim " + std::to_string(dim),
                             [a, b](const Table& table) { return time_ratio(table, a, b); }, nan});
            }
        }
    }
    if (with_earlier && with_baseline) {
        for (const char* lib : {"pellib", "pel_linux"}) {
            for (int dim : kEarlierDims) {
                for (const char* op : {"encode", "decode"}) {
                    const std::string base = earlier_name((std::string("baseline/") + lib).c_str(), op, dim);
                    const std::string now = earlier_name(lib, op, dim);
                    t.push_back({std::string(lib) + " " + op + " dim " + std::to_string(dim) +
                                     " speed-up (baseline/current)",
                                 [base, now](const Table& table) { return time_ratio(table, base, now); }, nan});
                }
            }
        }
    }
    return t;
}

}  // namespace
}  // namespace pel_bench

int main(int argc, char** argv) {
    using namespace pel_bench;
    if (argc == 5 && std::string(argv[1]) == "--pel_peak_child") {
        try {
            return peak_child(argv[2], argv[3], std::atoi(argv[4]));
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    g_smoke = take_smoke_flag(argc, argv);
    const std::string baseline_pellib = take_path_flag(argc, argv, "pel_baseline_pellib");
    const std::string baseline_linux = take_path_flag(argc, argv, "pel_baseline_linux");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }

    const Arm64* arm64 = nullptr;
    std::vector<EarlierLibrary> earlier;
#ifdef PEL_PELLIB_PATH
    earlier.push_back({"pellib", PEL_PELLIB_PATH});
#endif
#ifdef PEL_LINUX_PATH
    earlier.push_back({"pel_linux", PEL_LINUX_PATH});
#endif
    if (!baseline_pellib.empty()) earlier.push_back({"baseline/pellib", baseline_pellib});
    if (!baseline_linux.empty()) earlier.push_back({"baseline/pel_linux", baseline_linux});
    try {
        arm64 = &load_arm64(PEL_ARM64_PATH);
        for (EarlierLibrary& lib : earlier) {
            lib.api = &load_earlier(lib.path);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    for (const EarlierLibrary& lib : earlier) {
        if (lib.name.rfind("baseline/", 0) == 0) std::cout << "Baseline " << lib.name << ": " << lib.path << "\n";
    }

    for (int version : kVersions) {
        for (int dim : kDims) {
            for (bool decoding : {false, true}) {
                const char* op = decoding ? "decode_vector" : "encode_vector";
                benchmark::RegisterBenchmark(arm64_name(op, version, dim).c_str(), arm64_vector, arm64, decoding,
                                             version, dim)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(case_name("floor", op, version, dim).c_str(), floor_case, decoding,
                                             version, dim)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(case_name("sparse_route", op, version, dim).c_str(), sparse_route_case,
                                             arm64, decoding, version, dim)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    benchmark::RegisterBenchmark("boundary/floating_point/default", floating_point_case, FE_TONEAREST)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("boundary/floating_point/upward", floating_point_case, FE_UPWARD)
        ->Unit(benchmark::kMicrosecond);
    for (const EarlierLibrary& lib : earlier) {
        for (int dim : kEarlierDims) {
            for (bool decoding : {false, true}) {
                benchmark::RegisterBenchmark(earlier_name(lib.name.c_str(), decoding ? "decode" : "encode", dim).c_str(),
                                             earlier_vector, &lib, decoding, dim)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }

    SummaryReporter reporter({"peak_MB", "call_MB"},
                             targets(!earlier.empty(), !baseline_pellib.empty() || !baseline_linux.empty()));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
