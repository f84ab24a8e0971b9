// Record sets through libpel_arm64's exported encode / decode, each record with
// a 60-byte "meta", set against the floor no implementation of this interface
// avoids: parsing the input text and dumping a text as large as the output.
//   records/<op>/<count>       1,000 and 10,000 records at dimension 768;
//   records/seal/<op>/10000    10,000 records at dimension 2: sealing or opening
//                              the metadata is most of such a call.
// Each case reports, besides its time:
//   x_floor     call time / floor time, both measured in the same iterations
//               (the floor runs right after each call, outside the timed part);
//   floor_ms    that floor per call;
//   peak_B_rec  peak resident memory the call adds, per record;
//   peak_x_in   the same peak as a multiple of the input text's size;
//   in_MB       the input text's size.
//
// --pel_baseline=PATH times a second libpel_arm64 (an earlier build) beside the
// first: each iteration calls both on the same input, in an order that swaps
// from one iteration to the next, so that drift in the machine's speed falls
// on both; both decode the first library's encoding. The second's figures are
// the same counters prefixed "baseline." (a row of their own in the summary),
// its peak measured in a process that loads it, and
//   speed_up    baseline time / time, over the same iterations.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "record_data.h"
#include "library.h"
#include "peak.h"
#include "records/json.h"
#include "summary.h"

namespace pel_bench {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A smoke run only checks that every case runs: it skips the floor and the
// peak-memory children, which serve nothing but the numbers.
bool g_smoke = false;

constexpr int kSealDim = 2;

// One family of cases: <kind>/encode/<count> and <kind>/decode/<count>.
struct Shape {
    const char* kind;
    int count;
    int dim;
};
constexpr Shape kShapes[] = {{"records", 1000, kDim}, {"records", 10000, kDim}, {"records/seal", 10000, kSealDim}};

std::string case_name(const Shape& shape, const char* op) {
    return std::string(shape.kind) + "/" + op + "/" + std::to_string(shape.count);
}

struct Library {
    const Arm64* api = nullptr;  // null: not given
    std::string path;
};

struct Libraries {
    Library current;
    Library baseline;
};

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Everything one shape needs, built once per process outside any timed region
// and kept for all repetitions.
struct RecordSet {
    int count = 0;
    int dim = 0;
    std::string input;          // what encode reads
    std::string encoded;        // encode's output: what decode reads
    std::size_t decoded_size = 0;
    std::vector<double> query;
    json encoded_doc;           // dumped by encode's floor: a text of encode's output size
    json decoded_doc;           // dumped by decode's floor: a text of decode's output size
    std::string error;
};

std::string take_buffer(const Arm64& lib, char* buffer) {
    std::string text = buffer != nullptr ? std::string(buffer) : std::string();
    lib.free_output_buffer(buffer);
    return text;
}

const RecordSet& record_set(const Libraries& libs, const Shape& shape) {
    static std::map<std::pair<int, int>, std::unique_ptr<RecordSet>> cache;
    auto& slot = cache[{shape.count, shape.dim}];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<RecordSet>();
    RecordSet& set = *slot;
    const Arm64& lib = *libs.current.api;
    set.count = shape.count;
    set.dim = shape.dim;
    set.input = record_set_text(set.count, set.dim);
    set.query = random_vector(set.dim, 424242);

    char* out = nullptr;
    lib.encode(kKey, kSpace, kVersion, set.dim, set.input.c_str(), &out);
    if (const char* e = lib.last_error_message()) {
        set.error = std::string("encode: ") + e;
        return set;
    }
    set.encoded = take_buffer(lib, out);
    if (g_smoke) {
        return set;
    }

    out = nullptr;
    lib.decode(kKey, kSpace, kVersion, set.dim, set.query.data(), set.encoded.c_str(), &out);
    if (const char* e = lib.last_error_message()) {
        set.error = std::string("decode: ") + e;
        return set;
    }
    const std::string decoded = take_buffer(lib, out);
    set.decoded_size = decoded.size();
    if (const Arm64* base = libs.baseline.api) {
        // Same stored format, same bits out: a baseline that reads the
        // encoding otherwise is timed on other work.
        out = nullptr;
        base->decode(kKey, kSpace, kVersion, set.dim, set.query.data(), set.encoded.c_str(), &out);
        if (const char* e = base->last_error_message()) {
            set.error = std::string("baseline decode: ") + e;
            return set;
        }
        if (take_buffer(*base, out) != decoded) {
            std::cerr << "note: for " << set.count << " records at dimension " << set.dim
                      << " the baseline's decode output differs from the library's\n";
        }
    }
    // The library's own dump of these documents produced the texts, so a
    // compact dump of the parsed document is as long as the call's output.
    set.encoded_doc = json::parse(set.encoded);
    set.decoded_doc = json::parse(decoded);
    return set;
}

// Parse the call's input text, dump a text of the call's output size, release
// both: the work any implementation of this text-in, text-out interface does.
double floor_seconds(const std::string& input, const json& output_doc, std::size_t output_size) {
    const Clock::time_point start = Clock::now();
    {
        json parsed = json::parse(input);
        benchmark::DoNotOptimize(parsed);
        std::string text = output_doc.dump();
        benchmark::DoNotOptimize(text.data());
        if (text.size() != output_size) {
            static bool warned = false;
            if (!warned) {
                warned = true;
                std::cerr << "note: floor dump is " << text.size() << " bytes, the call's output " << output_size
                          << "\n";
            }
        }
    }
    return seconds_between(start, Clock::now());
}

// ---- peak resident memory of one call ------------------------------------

// Runs in a fresh process started by peak_bytes (argv: --pel_peak_child
// <library> <op> <dim> <input size>): reads the call's input text from stdin
// into one exactly sized string, as a host holding that text would, then makes
// the one call and prints "<resident kB before> <peak kB> <failed>" to stdout.
int peak_child(const std::string& path, const std::string& op, int dim, std::size_t size) {
    const Arm64& lib = load_arm64(path);
    std::string text(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        const ssize_t n = read(0, text.data() + have, size - have);
        if (n <= 0) {
            return 1;
        }
        have += static_cast<std::size_t>(n);
    }
    const std::vector<double> query = random_vector(dim, 424242);
    malloc_trim(0);
    // Both gauges are read from per-CPU counters and may be off by a few
    // hundred kB either way: noise next to calls of tens of MB.
    if (!reset_peak()) {
        std::printf("-1 -1 0\n");
        return 0;
    }
    const long base = status_kib("VmRSS:");
    char* out = nullptr;
    if (op == "encode") {
        lib.encode(kKey, kSpace, kVersion, dim, text.c_str(), &out);
    } else {
        lib.decode(kKey, kSpace, kVersion, dim, query.data(), text.c_str(), &out);
    }
    const long peak = status_kib("VmHWM:");
    const int failed = lib.last_error_message() != nullptr ? 1 : 0;
    lib.free_output_buffer(out);
    std::printf("%ld %ld %d\n", base, peak, failed);
    return 0;
}

// The peak resident memory one call of the library at `path` adds, in bytes,
// measured in a fresh process of this program: a process of its own starts
// with an untouched heap and its own high-water mark, so nothing earlier cases
// allocated, freed or kept can hide or inflate the figure. NaN when it cannot
// be measured.
double peak_bytes(const std::string& path, const std::string& op, int dim, const std::string& input) {
    const std::optional<std::string> reply =
        run_self({"--pel_peak_child", path, op, std::to_string(dim), std::to_string(input.size())}, input);
    long base = -1;
    long peak = -1;
    int failed = 1;
    if (!reply || std::sscanf(reply->c_str(), "%ld %ld %d", &base, &peak, &failed) != 3 || base < 0 || peak < 0 ||
        failed != 0) {
        return std::nan("");
    }
    return 1024.0 * static_cast<double>(peak - base);
}

double cached_peak(const Library& lib, const std::string& name, const std::string& op, int dim,
                   const std::string& input) {
    static std::map<std::pair<std::string, std::string>, double> cache;
    auto it = cache.find({lib.path, name});
    if (it == cache.end()) {
        const double peak = peak_bytes(lib.path, op, dim, input);
        if (std::isnan(peak)) {
            std::cerr << "note: no peak memory for " << name << " of " << lib.path
                      << " (the measuring process failed or could not reset VmHWM)\n";
        }
        it = cache.emplace(std::make_pair(lib.path, name), peak).first;
    }
    return it->second;
}

// ---- the cases -----------------------------------------------------------

// What one library's calls of a case came to.
struct Measured {
    double total = 0.0;  // seconds, over all iterations
    double peak = std::nan("");
};

// The figures of one library, as counters named `prefix` + the column name.
void put_figures(benchmark::State& state, const std::string& prefix, const RecordSet& set, std::size_t input_size,
                 const Measured& m, double floor_total) {
    if (floor_total > 0.0) {
        state.counters[prefix + "x_floor"] = m.total / floor_total;
        state.counters[prefix + "floor_ms"] = 1e3 * floor_total / static_cast<double>(state.iterations());
    }
    state.counters[prefix + "in_MB"] = static_cast<double>(input_size) / 1e6;
    if (!std::isnan(m.peak)) {
        state.counters[prefix + "peak_B_rec"] = m.peak / set.count;
        state.counters[prefix + "peak_x_in"] = m.peak / static_cast<double>(input_size);
    }
}

// Swaps which library goes first, from one iteration to the next, across all
// cases: with one iteration per repetition the swap still happens.
std::uint64_t g_round = 0;

// Makes one call through `lib` and returns its time; a failure's message,
// after `who`, goes to `error` unless an earlier one is there.
template <class Call>
double timed_call(const Arm64& lib, const Call& call, const char* who, std::string& error) {
    char* out = nullptr;
    const Clock::time_point start = Clock::now();
    call(lib, &out);
    lib.free_output_buffer(out);
    const double seconds = seconds_between(start, Clock::now());
    if (const char* e = lib.last_error_message(); e != nullptr && error.empty()) {
        error = std::string(who) + e;
    }
    return seconds;
}

// Times one record-set call per iteration (and the baseline's, when given)
// against the floor for the same input and output: `input` is what the call
// parses, `output_doc` and `output_size` what it dumps.
template <class Call>
void time_record_call(benchmark::State& state, const Libraries& libs, const RecordSet& set, const std::string& name,
                      const char* op, const std::string& input, const json& output_doc, std::size_t output_size,
                      Call call) {
    if (!set.error.empty()) {
        state.SkipWithError(set.error.c_str());
        return;
    }
    const Arm64& lib = *libs.current.api;
    const Arm64* base = libs.baseline.api;
    Measured current;
    Measured baseline;
    if (!g_smoke) {
        current.peak = cached_peak(libs.current, name, op, set.dim, input);
        if (base != nullptr) {
            baseline.peak = cached_peak(libs.baseline, name, op, set.dim, input);
        }
    }
    double floor_total = 0.0;
    for (auto _ : state) {
        std::string error;
        const bool baseline_first = base != nullptr && g_round++ % 2 == 1;
        if (baseline_first) {
            baseline.total += timed_call(*base, call, "baseline: ", error);
        }
        const double seconds = timed_call(lib, call, "", error);
        if (base != nullptr && !baseline_first) {
            baseline.total += timed_call(*base, call, "baseline: ", error);
        }
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.SetIterationTime(seconds);
        current.total += seconds;
        if (!g_smoke) {
            floor_total += floor_seconds(input, output_doc, output_size);
        }
    }
    if (state.error_occurred()) {
        return;
    }
    put_figures(state, "", set, input.size(), current, floor_total);
    if (base != nullptr) {
        put_figures(state, kBaselinePrefix, set, input.size(), baseline, floor_total);
        state.counters[std::string(kBaselinePrefix) + "seconds"] =
            baseline.total / static_cast<double>(state.iterations());
        if (current.total > 0.0) {
            state.counters["speed_up"] = baseline.total / current.total;
        }
    }
    state.SetItemsProcessed(state.iterations() * set.count);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
}

void record_case(benchmark::State& state, const Libraries* libs, Shape shape, bool decoding) {
    const RecordSet& set = record_set(*libs, shape);
    if (decoding) {
        time_record_call(state, *libs, set, case_name(shape, "decode"), "decode", set.encoded, set.decoded_doc,
                         set.decoded_size, [&](const Arm64& lib, char** out) {
                             lib.decode(kKey, kSpace, kVersion, set.dim, set.query.data(), set.encoded.c_str(), out);
                         });
    } else {
        time_record_call(state, *libs, set, case_name(shape, "encode"), "encode", set.input, set.encoded_doc,
                         set.encoded.size(), [&](const Arm64& lib, char** out) {
                             lib.encode(kKey, kSpace, kVersion, set.dim, set.input.c_str(), out);
                         });
    }
}

std::vector<Target> targets(bool with_baseline) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Target> t;
    for (const Shape& shape : kShapes) {
        const bool dim768 = shape.dim == kDim;
        const bool goal = dim768 && shape.count == 10000;
        for (const char* op : {"encode", "decode"}) {
            const std::string name = case_name(shape, op);
            if (with_baseline) {
                // The record-set route's goal: three times the baseline's speed.
                t.push_back({name + " speed-up (baseline/current)",
                             [name](const Table& table) { return counter(table, name, "speed_up"); }, nan,
                             dim768 ? 3.0 : nan});
            }
            const double floor_goal = std::string(op) == "encode" ? 1.0 / 0.9 : 1.2;
            t.push_back({name + " time/floor",
                         [name](const Table& table) { return counter(table, name, "x_floor"); },
                         goal ? floor_goal : nan});
            t.push_back({name + " peak/input",
                         [name](const Table& table) { return counter(table, name, "peak_x_in"); },
                         goal ? 1.5 : nan});
        }
    }
    return t;
}

}  // namespace
}  // namespace pel_bench

int main(int argc, char** argv) {
    using namespace pel_bench;
    if (argc == 6 && std::string(argv[1]) == "--pel_peak_child") {
        try {
            return peak_child(argv[2], argv[3], std::atoi(argv[4]),
                              static_cast<std::size_t>(std::strtoull(argv[5], nullptr, 10)));
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    g_smoke = take_smoke_flag(argc, argv);
    Libraries libs;
    libs.current.path = PEL_ARM64_PATH;
    libs.baseline.path = take_path_flag(argc, argv, "pel_baseline");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        libs.current.api = &load_arm64(libs.current.path);
        if (!libs.baseline.path.empty()) {
            libs.baseline.api = &load_arm64(libs.baseline.path);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    if (libs.baseline.api != nullptr) {
        std::cout << "Baseline: " << libs.baseline.path << "\n";
    }

    for (const Shape& shape : kShapes) {
        for (bool decoding : {false, true}) {
            benchmark::RegisterBenchmark(case_name(shape, decoding ? "decode" : "encode").c_str(), record_case,
                                         &libs, shape, decoding)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
        }
    }

    SummaryReporter reporter({"x_floor", "floor_ms", "peak_B_rec", "peak_x_in", "in_MB"},
                             targets(libs.baseline.api != nullptr));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
