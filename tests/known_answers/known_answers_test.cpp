// The stored formats, pinned: every case of answers.txt is run through the
// built libraries as a host loads them, and its output must be the recorded one
// bit for bit (any NaN for any NaN). Hosts keep these outputs for years; a change
// to any bit of them breaks every vector they hold, even when each new round
// trip still works.
//
// Cosine and sine come from the C library, whose variants differ in the last
// bit of some angles. Where a case differs, the recorded cosines and sines of
// its angles are checked against this C library's first: if they differ too,
// the case is compared to rounding instead and the test says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cases.h"
#include "records/json.h"

namespace {

using namespace known_answers;
using nlohmann::json;

// The platform whose own answers replace the x86-64 ones where it has them.
#if defined(__aarch64__)
const char* const kPlatform = "aarch64";
#else
const char* const kPlatform = "";
#endif

const Answers& answers() {
    static const Answers loaded = load_answers(PEL_KNOWN_ANSWERS, kPlatform);
    return loaded;
}

const Library& library(const std::string& name) {
    static const std::map<std::string, Library> libraries = {
        {"libpel_arm64", load("libpel_arm64", PEL_ARM64_PATH)},
        {"pellib", load("pellib", PEL_PELLIB_PATH)},
        {"libpel_linux", load("libpel_linux", PEL_LINUX_PATH)}};
    return libraries.at(name);
}

// The case's input: made from its spec, or the recorded output it names.
std::string recorded_input(const Case& c) {
    return c.input.rfind("case:", 0) == 0 ? answers().outputs.at(c.input.substr(5)) : c.input;
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || bits_of(a) == bits_of(b); }

std::string show(double value) {
    std::ostringstream out;
    out.precision(17);
    out << value << " (" << hex(value) << ")";
    return out.str();
}

// Empty where this C library gives the recorded cosine and sine for the angles
// of the case; otherwise what differs, for the test's message.
std::string cos_sin_difference(const Case& c) {
    const bool fused = c.library != "libpel_linux";
    const auto found = answers().angles.find({rotation_field(c.key), fused});
    if (found == answers().angles.end()) return "no recorded angles for this key";
    const std::size_t count = std::min(found->second.size(), static_cast<std::size_t>(c.dim / 2));
    std::size_t differing = 0;
    std::string first;
    for (std::size_t k = 0; k < count; ++k) {
        const Angle& a = found->second[k];
        const double cos_here = std::cos(a.angle);
        const double sin_here = std::sin(a.angle);
        if (same(cos_here, a.cos) && same(sin_here, a.sin)) continue;
        if (differing++ == 0) {
            first = "angle " + std::to_string(k) + " = " + show(a.angle) + ": cos " + show(cos_here) + " here, " +
                    show(a.cos) + " recorded; sin " + show(sin_here) + " here, " + show(a.sin) + " recorded";
        }
    }
    if (differing == 0) return "";
    return "this C library's cosine and sine differ from the recording machine's at " + std::to_string(differing) +
           " of the case's " + std::to_string(count) + " angles (first: " + first + ")";
}

// Where the C library's cosine and sine are not the recorded ones, encodings
// may differ in their last bits and no more.
constexpr double kCosSinTolerance = 1e-10;

// The first place where two JSON values differ, "" where they agree. Reals are
// compared bit for bit, or within `tolerance` relative to max(1, |expected|).
std::string first_difference(const json& expected, const json& actual, const std::string& path, double tolerance) {
    if (expected.is_number_float() || actual.is_number_float()) {
        if (!expected.is_number() || !actual.is_number()) return path + ": " + expected.dump() + " vs " + actual.dump();
        const double e = expected.get<double>();
        const double a = actual.get<double>();
        const bool ok = tolerance == 0.0 ? same(e, a) : std::fabs(e - a) <= tolerance * std::max(1.0, std::fabs(e));
        return ok ? "" : path + ": expected " + show(e) + ", got " + show(a);
    }
    if (expected.type() != actual.type()) return path + ": " + expected.dump() + " vs " + actual.dump();
    if (expected.is_array()) {
        if (expected.size() != actual.size()) {
            return path + ": " + std::to_string(expected.size()) + " elements, got " + std::to_string(actual.size());
        }
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const std::string d = first_difference(expected[i], actual[i], path + "[" + std::to_string(i) + "]", tolerance);
            if (!d.empty()) return d;
        }
        return "";
    }
    if (expected.is_object()) {
        for (const auto& [member, value] : expected.items()) {
            if (!actual.contains(member)) return path + "." + member + ": missing";
            const std::string d = first_difference(value, actual[member], path + "." + member, tolerance);
            if (!d.empty()) return d;
        }
        return expected.size() == actual.size() ? "" : path + ": members " + actual.dump();
    }
    return expected == actual ? "" : path + ": " + expected.dump() + " vs " + actual.dump();
}

// Exact, or to rounding where the C library's cosine and sine are not the
// recorded ones; `differ` finds the first difference under a tolerance.
template <class Differ>
void expect_recorded(const Case& c, Differ differ) {
    const std::string exact = differ(0.0);
    if (exact.empty()) return;
    const std::string cos_sin = cos_sin_difference(c);
    if (cos_sin.empty()) {
        ADD_FAILURE() << c.name << ": the output is not the recorded one, " << exact;
        return;
    }
    const std::string close = differ(kCosSinTolerance);
    if (close.empty()) {
        std::cout << c.name << ": " << cos_sin << "; the output agrees to rounding, not in every bit.\n";
    } else {
        ADD_FAILURE() << c.name << ": the output differs beyond rounding, " << close << "; note that " << cos_sin;
    }
}

void check_vector(const Case& c) {
    const std::string text = recorded_input(c);
    const std::vector<double> input = text == c.input ? make_input(c.input, c.dim) : parse_hex_list(text);
    const std::vector<double> expected = parse_hex_list(c.output);
    ASSERT_EQ(static_cast<std::size_t>(c.dim), input.size());
    const std::vector<double> actual = call_vector(library(c.library), c.call, c.key, c.metric, c.version, input);
    double scale = 0.0;
    for (const double x : expected) {
        if (std::isfinite(x)) scale = std::max(scale, std::fabs(x));
    }
    expect_recorded(c, [&](double tolerance) -> std::string {
        std::size_t differing = 0;
        std::string first;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const bool ok = tolerance == 0.0 ? same(expected[i], actual[i])
                                             : (std::isnan(expected[i]) ? std::isnan(actual[i])
                                                                        : std::fabs(expected[i] - actual[i]) <=
                                                                              tolerance * std::max(1.0, scale));
            if (ok) continue;
            if (differing++ == 0) {
                first = "coordinate " + std::to_string(i) + ": expected " + show(expected[i]) + ", got " +
                        show(actual[i]);
            }
        }
        return differing == 0 ? "" : first + " (" + std::to_string(differing) + " of " + std::to_string(expected.size()) +
                                         " coordinates differ)";
    });
}

void check_records(const Case& c) {
    const Library& lib = library("libpel_arm64");
    const std::vector<double> query = c.query == "-" ? std::vector<double>() : make_input(c.query, c.dim);
    const std::string input = recorded_input(c);
    const std::string text = call_records(lib, c.call, c.key, c.metric, c.version, c.dim, query, input);
    json expected = json::parse(c.output);
    json actual = json::parse(text);

    if (c.call == "encode") {
        // The sealed metadata is random through its IV: it must open to the
        // record's metadata, and its text is not compared.
        const json records = json::parse(input);
        std::map<std::string, json> metas;
        for (const json& record : records) metas[record.at("id").get<std::string>()] = record.at("meta");
        const std::string opened =
            call_records(lib, "decode", c.key, c.metric, c.version, c.dim, make_input("random:1", c.dim), text);
        for (const json& record : json::parse(opened)) {
            EXPECT_EQ(metas.at(record.at("id").get<std::string>()), record.at("meta"))
                << c.name << ": the metadata of " << record.at("id") << " does not open to what was sealed";
        }
        for (json* set : {&expected, &actual}) {
            for (json& record : *set) {
                EXPECT_TRUE(record.at("meta").is_string()) << c.name << ": sealed metadata is not a text";
                record.erase("meta");
            }
        }
    }
    expect_recorded(c, [&](double tolerance) { return first_difference(expected, actual, "", tolerance); });
}

class KnownAnswer : public ::testing::TestWithParam<Case> {};

TEST_P(KnownAnswer, IsTheRecordedOutput) {
    const Case& c = GetParam();
    if (c.kind == "vector") {
        check_vector(c);
    } else {
        check_records(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Recorded, KnownAnswer, ::testing::ValuesIn(answers().cases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

// A truncated or hand-trimmed file must not pass for a whole one.
TEST(KnownAnswers, FileHoldsEveryRecordedCase) {
    const Answers& a = answers();
    EXPECT_EQ(a.declared, static_cast<int>(a.cases.size()));
    std::map<std::string, int> per_call;
    for (const Case& c : a.cases) ++per_call[c.kind + " " + c.library + " " + c.call];
    for (const char* call : {"vector libpel_arm64 encode", "vector libpel_arm64 decode", "records libpel_arm64 encode",
                             "records libpel_arm64 decode", "vector pellib encode", "vector pellib decode",
                             "vector libpel_linux encode", "vector libpel_linux decode"}) {
        EXPECT_GT(per_call[call], 0) << "no case of " << call;
    }
}

}  // namespace
