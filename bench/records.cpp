// Record sets through libpel_arm64's exported encode / decode, at dimension 768
// with a 60-byte "meta" per record, set against the floor no implementation of
// this interface avoids: parsing the input text and dumping a text as large as
// the output. Each case reports, besides its time:
//   x_floor     call time / floor time, both measured in the same iterations
//               (the floor runs right after each call, outside the timed part);
//   floor_ms    that floor per call;
//   peak_B_rec  peak resident memory the call adds, per record;
//   peak_x_in   the same peak as a multiple of the input text's size;
//   in_MB       the input text's size.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
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
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common.h"
#include "record_data.h"
#include "library.h"
#include "summary.h"

namespace pel_bench {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A smoke run only checks that every case runs: it skips the floor and the
// peak-memory children, which serve nothing but the numbers.
bool g_smoke = false;

constexpr int kCounts[] = {1000, 10000};

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Everything one record count needs, built once per process outside any timed
// region and kept for all repetitions.
struct RecordSet {
    int count = 0;
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

const RecordSet& record_set(const Arm64& lib, int count) {
    static std::map<int, std::unique_ptr<RecordSet>> cache;
    auto& slot = cache[count];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<RecordSet>();
    RecordSet& set = *slot;
    set.count = count;
    set.input = record_set_text(count);
    set.query = random_vector(kDim, 424242);

    char* out = nullptr;
    lib.encode(kKey, kSpace, kVersion, kDim, set.input.c_str(), &out);
    if (const char* e = lib.last_error_message()) {
        set.error = std::string("encode: ") + e;
        return set;
    }
    set.encoded = take_buffer(lib, out);
    if (g_smoke) {
        return set;
    }

    out = nullptr;
    lib.decode(kKey, kSpace, kVersion, kDim, set.query.data(), set.encoded.c_str(), &out);
    if (const char* e = lib.last_error_message()) {
        set.error = std::string("decode: ") + e;
        return set;
    }
    const std::string decoded = take_buffer(lib, out);
    set.decoded_size = decoded.size();
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

long status_kib(const char* field) {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char buffer[8192];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0) {
        return -1;
    }
    buffer[n] = '\0';
    const char* at = std::strstr(buffer, field);
    return at != nullptr ? std::strtol(at + std::strlen(field), nullptr, 10) : -1;
}

// Resets VmHWM to the current resident size (Linux >= 4.0).
bool reset_peak() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, "5", 1) == 1;
    close(fd);
    return ok;
}

// Runs in a fresh process started by peak_bytes (argv: --pel_peak_child <op>
// <input size>): reads the call's input text from stdin into one exactly sized
// string, as a host holding that text would, then makes the one call and
// prints "<resident kB before> <peak kB> <failed>" to stdout.
int peak_child(const std::string& op, std::size_t size) {
    const Arm64& lib = load_arm64(PEL_ARM64_PATH);
    std::string text(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        const ssize_t n = read(0, text.data() + have, size - have);
        if (n <= 0) {
            return 1;
        }
        have += static_cast<std::size_t>(n);
    }
    const std::vector<double> query = random_vector(kDim, 424242);
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
        lib.encode(kKey, kSpace, kVersion, kDim, text.c_str(), &out);
    } else {
        lib.decode(kKey, kSpace, kVersion, kDim, query.data(), text.c_str(), &out);
    }
    const long peak = status_kib("VmHWM:");
    const int failed = lib.last_error_message() != nullptr ? 1 : 0;
    lib.free_output_buffer(out);
    std::printf("%ld %ld %d\n", base, peak, failed);
    return 0;
}

// The peak resident memory one call adds, in bytes, measured in a fresh
// process of this program: a process of its own starts with an untouched
// heap and its own high-water mark, so nothing earlier cases allocated, freed
// or kept can hide or inflate the figure. NaN when it cannot be measured.
double peak_bytes(const std::string& op, const std::string& input) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0) {
        return std::nan("");
    }
    if (pipe(from_child) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return std::nan("");
    }
    std::cout.flush();
    std::cerr.flush();
    const std::string size = std::to_string(input.size());
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[0]);
        close(to_child[1]);
        close(from_child[0]);
        close(from_child[1]);
        execl("/proc/self/exe", "pel_bench_records", "--pel_peak_child", op.c_str(), size.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    bool written = pid > 0;
    for (std::size_t done = 0; written && done < input.size();) {
        const ssize_t n = write(to_child[1], input.data() + done, input.size() - done);
        if (n <= 0) {
            written = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    close(to_child[1]);
    char reply[128] = {};
    std::size_t got = 0;
    for (ssize_t n; got < sizeof reply - 1 && (n = read(from_child[0], reply + got, sizeof reply - 1 - got)) > 0;) {
        got += static_cast<std::size_t>(n);
    }
    close(from_child[0]);
    int status = 0;
    if (pid > 0) {
        waitpid(pid, &status, 0);
    }
    long base = -1;
    long peak = -1;
    int failed = 1;
    if (!written || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(reply, "%ld %ld %d", &base, &peak, &failed) != 3 || base < 0 || peak < 0 || failed != 0) {
        return std::nan("");
    }
    return 1024.0 * static_cast<double>(peak - base);
}

double cached_peak(const std::string& op, int count, const std::string& input) {
    static std::map<std::string, double> cache;
    const std::string name = op + "/" + std::to_string(count);
    auto it = cache.find(name);
    if (it == cache.end()) {
        const double peak = peak_bytes(op, input);
        if (std::isnan(peak)) {
            std::cerr << "note: no peak memory for " << name
                      << " (the measuring process failed or could not reset VmHWM)\n";
        }
        it = cache.emplace(name, peak).first;
    }
    return it->second;
}

// ---- the cases -----------------------------------------------------------

void report(benchmark::State& state, const RecordSet& set, std::size_t input_size, double call_total,
            double floor_total, double peak) {
    const double iterations = static_cast<double>(state.iterations());
    if (floor_total > 0.0) {
        state.counters["x_floor"] = call_total / floor_total;
        state.counters["floor_ms"] = 1e3 * floor_total / iterations;
    }
    state.counters["in_MB"] = static_cast<double>(input_size) / 1e6;
    if (!std::isnan(peak)) {
        state.counters["peak_B_rec"] = peak / set.count;
        state.counters["peak_x_in"] = peak / static_cast<double>(input_size);
    }
    state.SetItemsProcessed(state.iterations() * set.count);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input_size));
}

// Times one record-set call per iteration against the floor for the same input
// and output: `input` is what the call parses, `output_doc` and `output_size`
// what it dumps.
template <class Call>
void time_record_call(benchmark::State& state, const Arm64* lib, const RecordSet& set, const char* op, int count,
                      const std::string& input, const json& output_doc, std::size_t output_size, Call call) {
    if (!set.error.empty()) {
        state.SkipWithError(set.error.c_str());
        return;
    }
    const double peak = g_smoke ? std::nan("") : cached_peak(op, count, input);
    double call_total = 0.0;
    double floor_total = 0.0;
    for (auto _ : state) {
        char* out = nullptr;
        const Clock::time_point start = Clock::now();
        call(&out);
        lib->free_output_buffer(out);
        const double seconds = seconds_between(start, Clock::now());
        if (const char* e = lib->last_error_message()) {
            state.SkipWithError(e);
            break;
        }
        state.SetIterationTime(seconds);
        call_total += seconds;
        if (!g_smoke) {
            floor_total += floor_seconds(input, output_doc, output_size);
        }
    }
    if (!state.error_occurred()) {
        report(state, set, input.size(), call_total, floor_total, peak);
    }
}

void encode_records(benchmark::State& state, const Arm64* lib, int count) {
    const RecordSet& set = record_set(*lib, count);
    time_record_call(state, lib, set, "encode", count, set.input, set.encoded_doc, set.encoded.size(),
                     [&](char** out) { lib->encode(kKey, kSpace, kVersion, kDim, set.input.c_str(), out); });
}

void decode_records(benchmark::State& state, const Arm64* lib, int count) {
    const RecordSet& set = record_set(*lib, count);
    time_record_call(state, lib, set, "decode", count, set.encoded, set.decoded_doc, set.decoded_size,
                     [&](char** out) {
                         lib->decode(kKey, kSpace, kVersion, kDim, set.query.data(), set.encoded.c_str(), out);
                     });
}

std::string case_name(const char* op, int count) {
    return std::string("records/") + op + "/" + std::to_string(count);
}

std::vector<Target> targets() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Target> t;
    for (int count : kCounts) {
        const bool goal = count == 10000;
        for (const char* op : {"encode", "decode"}) {
            const std::string name = case_name(op, count);
            const double floor_goal = std::string(op) == "encode" ? 1.0 / 0.9 : 1.2;
            t.push_back({name + " time/floor",
                         [name](const Table& table) { return counter(table, name, "x_floor"); },
                         goal ? floor_goal : nan});
            t.push_back({name + " peak/input",
                         [name](const Table& table) { return counter(table, name, "peak_x_in"); },
                         goal ? 3.0 : nan});
        }
    }
    return t;
}

}  // namespace
}  // namespace pel_bench

int main(int argc, char** argv) {
    using namespace pel_bench;
    if (argc == 4 && std::string(argv[1]) == "--pel_peak_child") {
        try {
            return peak_child(argv[2], static_cast<std::size_t>(std::strtoull(argv[3], nullptr, 10)));
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    g_smoke = take_smoke_flag(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const Arm64* lib = nullptr;
    try {
        lib = &load_arm64(PEL_ARM64_PATH);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }

    for (int count : kCounts) {
        benchmark::RegisterBenchmark(case_name("encode", count).c_str(), encode_records, lib, count)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RegisterBenchmark(case_name("decode", count).c_str(), decode_records, lib, count)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    }

    SummaryReporter reporter({"x_floor", "floor_ms", "peak_B_rec", "peak_x_in", "in_MB"}, targets());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
