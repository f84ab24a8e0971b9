// Every exported function of the three libraries under limits of the address
// space (RLIMIT_AS) that step finely through the range in which the call needs
// memory. Each call runs in a host of its own (limit_host.c, a C program, as
// most hosts of these libraries are), which loads the library, lowers its
// limit and makes the one call. At every limit the call must succeed, or fail
// as a host can live with: the process goes on and ends normally, no output is
// written, last_error_message says that memory ran out (and names no record),
// and the stderr line says the same.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pel_arm64.h"

namespace {

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
constexpr int kRecords = 200;
constexpr int kRecordDim = 768;
// The earlier libraries invert a dense matrix per decoding call: a smaller
// dimension keeps the scan short and still needs megabytes.
constexpr int kEarlierDim = 256;
constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr int kSteps = 96;

struct Call {
    std::string name;
    std::string library;
    std::string call;      // limit_host's name of the call
    const char* function;  // the export, which the stderr line names
    int dim;
    std::string text;  // file of the record-set text, if any
};

// The outcome of the call at one limit, `extra` bytes above what the host
// uses when it makes the call.
struct Probe {
    std::size_t extra = 0;
    bool clean = false;  // succeeded, or failed as it should
    bool succeeded = false;
    bool aborted = false;  // ended by SIGABRT
    std::string what;
};

std::string contents(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// What the host's report and its ending say about the call.
Probe judge(const Call& call, std::size_t extra, int status, const std::string& report, const std::string& err) {
    Probe p;
    p.extra = extra;
    const std::string line = report.empty() ? "" : report.substr(0, report.size() - 1);
    if (WIFSIGNALED(status)) {
        p.aborted = WTERMSIG(status) == SIGABRT;
        p.what = "ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line.empty()) {
        p.what = "ended with status " + std::to_string(WEXITSTATUS(status)) + " before it reported";
    } else if (line == "succeeded") {
        p.succeeded = p.clean = err.empty();
        p.what = "succeeded";
    } else if (line.rfind("failed ", 0) == 0) {
        const std::string reason = line.substr(7);
        const bool about_memory = reason == "std::bad_alloc" || reason.find("memory") != std::string::npos;
        if (!about_memory || reason.rfind("Record", 0) == 0) {
            p.what = "failed for another reason: " + reason;
        } else if (err != std::string(call.function) + ": " + reason + "\n") {
            p.what = "failed with \"" + reason + "\" but wrote another line";
        } else {
            p.clean = true;
            p.what = line;
        }
    } else {
        p.what = line;
    }
    if (!p.clean && !err.empty()) p.what += "; stderr: " + err.substr(0, 300);
    return p;
}

// Runs the call under each of the limits, up to `parallel` hosts at a time;
// with `used_up`, each host first allocates its heap to the last block.
std::vector<Probe> probe(const Call& call, const std::vector<std::size_t>& extras, std::size_t parallel = 4,
                         bool used_up = false) {
    struct Host {
        pid_t pid;
        int report;
        int err;
        std::size_t index;
    };
    std::vector<Probe> probes(extras.size());
    std::vector<Host> running;
    std::size_t next = 0;
    while (next < extras.size() || !running.empty()) {
        while (next < extras.size() && running.size() < parallel) {
            char report_name[] = "/tmp/pel_limits_report_XXXXXX";
            char err_name[] = "/tmp/pel_limits_err_XXXXXX";
            const int report = mkstemp(report_name);
            const int err = mkstemp(err_name);
            if (report < 0 || err < 0) {
                ADD_FAILURE() << "cannot make the host's files";
                return probes;
            }
            unlink(report_name);
            unlink(err_name);
            const std::string extra = std::to_string(extras[next]);
            const std::string dim = std::to_string(call.dim);
            std::vector<const char*> argv = {PEL_LIMIT_HOST_PATH, call.library.c_str(), call.call.c_str(),
                                             dim.c_str(), extra.c_str(), used_up ? "used-up" : "free"};
            if (!call.text.empty()) argv.push_back(call.text.c_str());
            argv.push_back(nullptr);
            const pid_t pid = fork();
            if (pid == 0) {
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
                dup2(err, 2);
                dup2(report, 3);
                execv(argv[0], const_cast<char* const*>(argv.data()));
                std::_Exit(127);
            }
            if (pid < 0) {
                ADD_FAILURE() << "fork failed";
                return probes;
            }
            running.push_back({pid, report, err, next++});
        }
        int status = 0;
        const pid_t done = waitpid(-1, &status, 0);
        for (std::size_t i = 0; i < running.size(); ++i) {
            const Host h = running[i];
            if (h.pid == done) {
                probes[h.index] = judge(call, extras[h.index], status, contents(h.report), contents(h.err));
                close(h.report);
                close(h.err);
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    return probes;
}

// The call at kSteps + 1 limits from what the host has up to a quarter past
// the least room the call succeeds in; that room is found first, by doubling
// and then halving the interval down to 1/64 of it.
void expect_clean_at_every_limit(const Call& call) {
    SCOPED_TRACE(call.name);
    std::vector<Probe> faults;
    int aborted = 0;
    auto note = [&](const Probe& p) {
        if (!p.clean) faults.push_back(p);
        aborted += p.aborted;
    };
    auto succeeds = [&](std::size_t extra) {
        const Probe p = probe(call, {extra}, 1)[0];
        note(p);
        return p.succeeded;
    };
    std::size_t low = 0;
    std::size_t high = kMiB / 4;
    while (!succeeds(high)) {
        low = high;
        high *= 2;
        ASSERT_LT(high, std::size_t{8} << 30) << "fails even with 8 GiB to spare";
    }
    const std::size_t resolution = high / 64;
    while (high - low > resolution) {
        const std::size_t middle = low + (high - low) / 2;
        (succeeds(middle) ? high : low) = middle;
    }
    std::vector<std::size_t> extras;
    const std::size_t top = high + high / 4;
    for (int i = 0; i <= kSteps; ++i) extras.push_back(top * static_cast<std::size_t>(i) / kSteps);
    int succeeded = 0, failed = 0;
    for (const Probe& p : probe(call, extras)) {
        note(p);
        succeeded += p.succeeded;
        failed += p.clean && !p.succeeded;
    }
    std::printf("[ limits   ] %s: needs %.2f MiB more; at %d limits up to +%.2f MiB %d succeeded, %d failed "
                "cleanly; %zu limits in all did not end cleanly, %d of them by SIGABRT\n",
                call.name.c_str(), static_cast<double>(high) / kMiB, kSteps + 1, static_cast<double>(top) / kMiB,
                succeeded, failed, faults.size(), aborted);
    for (std::size_t i = 0; i < faults.size() && i < 8; ++i) {
        ADD_FAILURE() << "+" << faults[i].extra << " bytes: " << faults[i].what;
    }
    EXPECT_TRUE(faults.empty()) << faults.size() << " limits where the call did not end cleanly";
}

// ---- Record sets: kRecords records at kRecordDim, in the shapes that take
// each route: an array (one pass), an array whose member names are escaped
// (one pass, each record read by the JSON library), an object of records (one
// JSON document of the whole set).

std::string record(int i, const char* id_member) {
    std::string text = "{\"" + std::string(id_member) + "\":\"rec-" + std::to_string(i) +
                       "\",\"filter\":{\"group\":" + std::to_string(i % 8) +
                       ",\"on\":true},\"meta\":{\"title\":\"document " + std::to_string(i) +
                       "\",\"tags\":[\"a\",\"b\"],\"score\":" + std::to_string(i / 4.0) + "},\"vector\":[";
    char number[32];
    for (int j = 0; j < kRecordDim; ++j) {
        std::snprintf(number, sizeof number, "%s%.17g", j > 0 ? "," : "", std::sin(0.37 * (j + 1) * (i + 1)));
        text += number;
    }
    return text + "]}";
}

std::vector<std::string> records_of(const std::string& array) {
    std::vector<std::string> records;
    std::size_t depth = 0, start = 0;
    bool in_string = false;
    for (std::size_t i = 1; i + 1 < array.size(); ++i) {
        const char c = array[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            if (depth++ == 0) start = i;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            records.push_back(array.substr(start, i + 1 - start));
        }
    }
    return records;
}

std::string array_of(const std::vector<std::string>& records) {
    std::string text = "[";
    for (const std::string& r : records) text += (text.size() > 1 ? "," : "") + r;
    return text + "]";
}

std::string object_of(const std::vector<std::string>& records) {
    std::string text = "{";
    char name[32];
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::snprintf(name, sizeof name, "\"r%04zu\":", i);
        text += (i > 0 ? "," : "") + std::string(name) + records[i];
    }
    return text + "}";
}

// Each record's "id" spelled with an escape, which the JSON library reads as
// "id". No other member here holds the text "id":.
std::string with_escaped_ids(std::string text) {
    const std::string from = "\"id\":", to = "\"\\u0069d\":";
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string encoded(const std::string& text) {
    char* out = nullptr;
    ::encode(kKey, "L2", 1, kRecordDim, text.c_str(), &out);
    EXPECT_EQ(nullptr, last_error_message());
    std::string e = out != nullptr ? out : "";
    free_output_buffer(out);
    return e;
}

// The files of the record sets, written once for the whole run.
class RecordSetFiles : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/pel_limits_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        dir_ = dir;
        std::vector<std::string> plain;
        for (int i = 0; i < kRecords; ++i) plain.push_back(record(i, "id"));
        const std::vector<std::string> sealed = records_of(encoded(array_of(plain)));
        ASSERT_EQ(plain.size(), sealed.size());
        for (const auto& [name, records] : {std::make_pair("encode", plain), std::make_pair("decode", sealed)}) {
            write(std::string(name) + "-array", array_of(records));
            write(std::string(name) + "-escaped", with_escaped_ids(array_of(records)));
            write(std::string(name) + "-object", object_of(records));
        }
    }
    static void TearDownTestSuite() {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir(dir_.c_str());
    }
    static std::string file(const std::string& name) { return dir_ + "/" + name; }

private:
    static void write(const std::string& name, const std::string& text) {
        std::ofstream(file(name), std::ios::binary) << text;
        files_.push_back(file(name));
    }
    static std::string dir_;
    static std::vector<std::string> files_;
};
std::string RecordSetFiles::dir_;
std::vector<std::string> RecordSetFiles::files_;

using MemoryLimits = RecordSetFiles;

const char* const kShapes[][2] = {{"array", "an array"}, {"escaped", "an array, names escaped"}, {"object", "an object"}};

TEST_F(MemoryLimits, Arm64Encode) {
    for (const auto& shape : kShapes) {
        expect_clean_at_every_limit({std::string("libpel_arm64 encode, ") + shape[1], PEL_ARM64_PATH, "encode",
                                     "encode", kRecordDim, file(std::string("encode-") + shape[0])});
    }
}

TEST_F(MemoryLimits, Arm64Decode) {
    for (const auto& shape : kShapes) {
        expect_clean_at_every_limit({std::string("libpel_arm64 decode, ") + shape[1], PEL_ARM64_PATH, "decode",
                                     "decode", kRecordDim, file(std::string("decode-") + shape[0])});
    }
}

TEST_F(MemoryLimits, Arm64VectorCalls) {
    for (const char* function : {"encode_vector", "decode_vector"}) {
        expect_clean_at_every_limit(
            {std::string("libpel_arm64 ") + function, PEL_ARM64_PATH, function, function, kRecordDim, ""});
    }
}

// Neither needs memory of its own: from the lowest limit on they must work,
// last_error_message as the library's first use of its thread-local state.
TEST_F(MemoryLimits, Arm64BufferAndErrorCalls) {
    for (const char* function : {"last_error_message", "free_output_buffer"}) {
        const Call call{std::string("libpel_arm64 ") + function, PEL_ARM64_PATH, function, function, kRecordDim, ""};
        SCOPED_TRACE(call.name);
        std::vector<std::size_t> extras;
        for (std::size_t extra = 0; extra <= 256 * 1024; extra += 8192) extras.push_back(extra);
        for (const Probe& p : probe(call, extras)) {
            EXPECT_TRUE(p.succeeded) << "+" << p.extra << " bytes: " << p.what;
        }
    }
}

TEST_F(MemoryLimits, Drivers) {
    for (const char* library : {PEL_ARM64_PATH, PEL_PELLIB_PATH, PEL_LINUX_PATH}) {
        expect_clean_at_every_limit({std::string(library) + " main", library, "main", "main", 1, ""});
    }
}

// With not one block of the heap left, the first call of the thread, which is
// also its first use of the library's thread state and of the C++ runtime's,
// must still end cleanly.
TEST_F(MemoryLimits, EveryExportWithTheHeapUsedUp) {
    std::vector<Call> calls;
    for (const char* function : {"encode_vector", "decode_vector", "last_error_message", "free_output_buffer"}) {
        calls.push_back({std::string("libpel_arm64 ") + function, PEL_ARM64_PATH, function, function, kRecordDim, ""});
    }
    for (const char* function : {"encode", "decode"}) {
        calls.push_back({std::string("libpel_arm64 ") + function, PEL_ARM64_PATH, function, function, kRecordDim,
                         file(std::string(function) + "-array")});
    }
    for (const char* library : {PEL_ARM64_PATH, PEL_PELLIB_PATH, PEL_LINUX_PATH}) {
        calls.push_back({std::string(library) + " main", library, "main", "main", 1, ""});
    }
    for (const char* library : {PEL_PELLIB_PATH, PEL_LINUX_PATH}) {
        for (const char* function : {"encode", "decode"}) {
            calls.push_back({std::string(library) + " " + function, library, std::string("earlier_") + function,
                             function, kEarlierDim, ""});
        }
    }
    for (const Call& call : calls) {
        const Probe p = probe(call, {64 * 1024}, 1, true)[0];
        EXPECT_TRUE(p.clean) << call.name << ": " << p.what;
    }
}

TEST_F(MemoryLimits, EarlierVectorCalls) {
    for (const char* library : {PEL_PELLIB_PATH, PEL_LINUX_PATH}) {
        for (const char* function : {"encode", "decode"}) {
            expect_clean_at_every_limit({std::string(library) + " " + function, library,
                                         std::string("earlier_") + function, function, kEarlierDim, ""});
        }
    }
}

}  // namespace
