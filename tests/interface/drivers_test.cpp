// Each library as a whole: its exported symbols, and its demonstration driver run
// through the demo host.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "interface/guard.h"

#include "process.h"
#include "records/json.h"

namespace {

using pel_test::Command;
using pel_test::quoted;
using pel_test::run_command;
using pel_test::split_lines;

struct Library {
    const char* path;
    std::set<std::string> exports;
};

const Library kArm64{PEL_ARM64_PATH, {"decode", "decode_vector", "encode", "encode_vector", "free_output_buffer",
                                      "last_error_message", "main"}};
const Library kPellib{PEL_PELLIB_PATH, {"decode", "encode", "last_error_message", "main"}};
const Library kLinux{PEL_LINUX_PATH, {"decode", "encode", "last_error_message", "main"}};

const char* const kGeneratorLines[] = {
    "Random number: 0.051505",
    "Random numbers in the range [10.0, 20.0):",
    "11.7426 14.2908 14.3359 12.8822 19.9387 ",
    "Random number in the range [30.0, 40.0): 34.6344",
    "Random number in the range [30.0, 40.0): 36.0451",
};

std::string trimmed(const std::string& line) { return line.substr(line.find_first_not_of(' ')); }

// The demo host, behind the emulator that runs a cross-built one (empty in a
// native build).
std::string host_command() {
    const std::string emulator = PEL_EMULATOR;
    return (emulator.empty() ? "" : emulator + " ") + quoted(PEL_DEMO_HOST_PATH);
}

std::vector<std::string> run_driver(const char* library) {
    const Command run = run_command(host_command() + " " + quoted(library));
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    EXPECT_FALSE(run.out.empty());
    if (!run.out.empty()) {
        EXPECT_EQ('\n', run.out.back());
    }
    return split_lines(run.out);
}

// A label line, then ten components right-aligned to one width.
void expect_vector_section(const std::vector<std::string>& lines, std::size_t first, const char* label) {
    SCOPED_TRACE(label);
    ASSERT_GT(lines.size(), first + 10);
    EXPECT_EQ(label, lines[first]);
    for (std::size_t i = first + 1; i <= first + 10; ++i) {
        EXPECT_EQ(lines[first + 1].size(), lines[i].size()) << "right-aligned: '" << lines[i] << "'";
        char* end = nullptr;
        std::strtod(lines[i].c_str(), &end);
        EXPECT_EQ('\0', *end) << "not one number: '" << lines[i] << "'";
    }
}

void expect_same_components(const std::vector<std::string>& lines, std::size_t original, std::size_t decoded) {
    for (std::size_t i = 1; i <= 10; ++i) {
        EXPECT_EQ(trimmed(lines[original + i]), trimmed(lines[decoded + i])) << "component " << i - 1;
    }
}

bool have_nm() {
    const std::string nm = PEL_NM_PATH;
    return !nm.empty() && access(nm.c_str(), X_OK) == 0;
}

// The names in the library's dynamic symbol table that `nm -D <which>` lists.
std::set<std::string> dynamic_symbols(const char* library, const char* which) {
    const Command run = run_command(quoted(PEL_NM_PATH) + " -D " + which + " " + quoted(library));
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    std::set<std::string> names;
    for (const std::string& line : split_lines(run.out)) {
        const std::size_t blank = line.rfind(' ');
        if (blank != std::string::npos) names.insert(line.substr(blank + 1));
    }
    return names;
}

TEST(Libraries, ExportExactlyTheirInterface) {
    if (!have_nm()) GTEST_SKIP() << "no nm";
    for (const Library& library : {kArm64, kPellib, kLinux}) {
        SCOPED_TRACE(library.path);
        EXPECT_EQ(library.exports, dynamic_symbols(library.path, "--defined-only"));
    }
}

// An assertion that fails calls the C library's handler, which aborts the
// host's process. Eigen's checks throw instead, and the JSON library's and
// fast_float's are compiled out, so no library may call the handler at all.
TEST(Libraries, CallNoAssertionHandler) {
#if PEL_DEPENDENCY_ASSERTIONS
    GTEST_SKIP() << "a checking build keeps the assertions of the dependencies";
#endif
    if (!have_nm()) GTEST_SKIP() << "no nm";
    for (const Library& library : {kArm64, kPellib, kLinux}) {
        SCOPED_TRACE(library.path);
        for (const std::string& symbol : dynamic_symbols(library.path, "--undefined-only")) {
            // The name without its version and the underscores that platforms
            // put in front: glibc's and musl's __assert_fail, Apple's
            // __assert_rtn, the BSDs' __assert and Android's __assert2.
            std::string name = symbol.substr(0, symbol.find('@'));
            name.erase(0, name.find_first_not_of('_'));
            EXPECT_EQ(0u, (std::set<std::string>{"assert_fail", "assert_rtn", "assert", "assert2"}.count(name)))
                << symbol;
        }
    }
}

TEST(Drivers, EarlierDriversPrintTheRoundTripAndTheGeneratorLines) {
    for (const char* library : {kPellib.path, kLinux.path}) {
        SCOPED_TRACE(library);
        const std::vector<std::string> lines = run_driver(library);
        ASSERT_EQ(38u, lines.size());
        expect_vector_section(lines, 0, "Original vector:");
        expect_vector_section(lines, 11, "Encoded vector:");
        expect_vector_section(lines, 22, "Decoded vector:");
        expect_same_components(lines, 0, 22);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(kGeneratorLines[i], lines[33 + i]);
    }
}

TEST(Drivers, Arm64DriverShowsVectorsGeneratorAndRecords) {
    const std::vector<std::string> lines = run_driver(kArm64.path);
    ASSERT_GT(lines.size(), 41u);
    expect_vector_section(lines, 0, "Original vector:");
    expect_vector_section(lines, 11, "Encoded vector:");
    EXPECT_EQ("Encoding Done:", lines[22]);
    expect_vector_section(lines, 23, "Decoded vector:");
    EXPECT_EQ("Decoding done:", lines[34]);
    expect_same_components(lines, 0, 23);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(kGeneratorLines[i], lines[35 + i]);
    ASSERT_EQ("Encoded JSON:", lines[40]);  // 40 lines before it

    // The two indented dumps follow, each starting with "[" and ending with "]".
    std::size_t decoded_label = 0;
    for (std::size_t i = 41; i < lines.size(); ++i) {
        if (lines[i] == "Decoded JSON:") decoded_label = i;
    }
    ASSERT_NE(0u, decoded_label);
    std::string encoded_text, decoded_text;
    for (std::size_t i = 41; i < decoded_label; ++i) encoded_text += lines[i] + "\n";
    for (std::size_t i = decoded_label + 1; i < lines.size(); ++i) decoded_text += lines[i] + "\n";
    const nlohmann::json encoded = nlohmann::json::parse(encoded_text);
    const nlohmann::json decoded = nlohmann::json::parse(decoded_text);
    EXPECT_EQ(encoded.dump(4) + "\n", encoded_text);

    ASSERT_EQ(2u, encoded.size());
    for (const nlohmann::json& record : encoded) {
        EXPECT_TRUE(record.at("meta").is_string());
        EXPECT_EQ(5u, record.at("vector").size());
    }
    ASSERT_EQ(2u, decoded.size());
    std::set<std::string> names;
    for (const nlohmann::json& record : decoded) {
        EXPECT_EQ("1", record.at("id"));
        EXPECT_EQ(nlohmann::json({{"doc_id", "1"}}), record.at("filter"));
        names.insert(record.at("meta").at("name").get<std::string>());
    }
    EXPECT_EQ((std::set<std::string>{"Mira", "Tomas"}), names);
    EXPECT_GE(decoded[0].at("similarity").get<double>(), decoded[1].at("similarity").get<double>());
}

// The drivers run behind the exports' guard: a failure inside one (with their
// fixed inputs only exhausted memory) comes back as status 1 and a reason,
// never as an exception into the host.
TEST(Drivers, AFailingDriverReturnsOneInsteadOfThrowing) {
    EXPECT_EQ(0, Pelmora::boundary::run_driver([] {}));
    EXPECT_EQ(nullptr, Pelmora::boundary::last_error());
    EXPECT_EQ(1, Pelmora::boundary::run_driver([] { throw std::bad_alloc(); }));
    ASSERT_NE(nullptr, Pelmora::boundary::last_error());
    EXPECT_EQ(std::string(std::bad_alloc().what()), Pelmora::boundary::last_error());
}

}  // namespace
