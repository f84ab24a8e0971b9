// Records the known answers: runs every case through the built libraries and
// writes the answers file. It was run once, on the commit the file names; the
// tests only read the file. Recording again would pin whatever the code does
// now, so it is done only when a stored format is meant to change.
//
//   pel_record_known_answers COMMIT OUTPUT
//   pel_record_known_answers --platform NAME ANSWERS
// The second form runs the vector cases of an answers file on another platform
// and appends a platform line for each whose output differs there.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "cases.h"
#include "records/json.h"

namespace {

using namespace known_answers;
using nlohmann::json;

// Keys whose rotation angles the x86-64 variants of glibc's cos and sin (with
// and without FMA) agree on, for every angle the cases below draw.
const std::string kKey128 = "7e41c09b2d5f0c8116cb0e4f9a27d563";
const std::string kKey256 = "3a9d52e1b87c0fea6d14c3b2a90e57f8d2c61b4e09a3f75c18e6d2b4a0c93f71";
const std::string kEarlierKey = "9f3e77a1c05b08b7";

struct Recorder {
    std::ofstream out;
    std::map<std::string, std::string> outputs;  // by case name: hex list or JSON text
    std::map<std::pair<std::string, bool>, int> angles;  // (rotation field, fused) -> count drawn
    int cases = 0;

    std::string input_text(const std::string& spec) const {
        return spec.rfind("case:", 0) == 0 ? outputs.at(spec.substr(5)) : std::string();
    }

    void note_angles(const std::string& key, bool fused, int dim) {
        int& count = angles[{rotation_field(key), fused}];
        count = std::max(count, dim / 2);
    }

    // Returns the case name, for the decoding that reads its output.
    std::string vector_case(const Library& lib, const std::string& call, const std::string& key, const std::string& metric,
                     int version, int dim, const std::string& input) {
        const bool arm64 = lib.name == "libpel_arm64";
        std::string name = lib.name + "/" + (arm64 ? "v" + std::to_string(version) + "/" + metric + "/" : "") +
                           call + "/" + input + "/" + std::to_string(dim);
        if (input.rfind("case:", 0) == 0) {
            // The decoding of a recorded encoding is named after it.
            name = input.substr(5);
            name.replace(name.find("/encode/"), 8, "/" + call + "/encoded-");
        }
        const std::vector<double> in =
            input.rfind("case:", 0) == 0 ? parse_hex_list(input_text(input)) : make_input(input, dim);
        const std::vector<double> result = call_vector(lib, call, key, metric, version, in);
        outputs[name] = hex_list(result);
        out << "vector\t" << name << '\t' << lib.name << '\t' << call << '\t' << key << '\t' << (arm64 ? metric : "-")
            << '\t' << (arm64 ? std::to_string(version) : "-") << '\t' << dim << '\t' << input << '\t'
            << outputs[name] << '\n';
        note_angles(key, lib.name != "libpel_linux", dim);
        ++cases;
        return name;
    }

    // Returns the case name, for the decoding that reads its output.
    std::string records_case(const Library& lib, const std::string& call, const std::string& key,
                             const std::string& metric, int version, int dim, const std::string& query,
                             const std::string& input) {
        const std::string name = "records/v" + std::to_string(version) + "/" + metric + "/" + call + "/" +
                                 std::to_string(dim);
        const std::string text = input.rfind("case:", 0) == 0 ? input_text(input) : input;
        const std::vector<double> q = query == "-" ? std::vector<double>() : make_input(query, dim);
        outputs[name] = call_records(lib, call, key, metric, version, dim, q, text);
        out << "records\t" << name << '\t' << call << '\t' << key << '\t' << metric << '\t' << version << '\t' << dim
            << '\t' << query << '\t' << input << '\t' << outputs[name] << '\n';
        note_angles(key, true, dim);
        ++cases;
        return name;
    }
};

// Four records whose members take each kind a host may store: a filter of null,
// object and array, metadata of object, string and array, vectors of reals and
// of JSON integers.
std::string record_set(int dim, std::uint64_t seed) {
    json records = json::array();
    const json filters[] = {nullptr, {{"lang", "en"}, {"year", 2024}}, json::array({1, "two", 3.5}), "plain"};
    const json metas[] = {{{"title", "first"}, {"n", 1}}, "a string of metadata", json::array({1, 2.5, nullptr}),
                          {{"nested", {{"deep", {1, 2, 3}}}}, {"text", "caf\u00e9 \"quoted\""}}};
    for (int r = 0; r < 4; ++r) {
        json vector = json::array();
        if (r == 3) {
            for (const double x : make_input("integers", dim)) vector.push_back(static_cast<int>(x));
        } else {
            for (const double x : make_input("random:" + std::to_string(seed + r), dim)) vector.push_back(x);
        }
        records.push_back({{"id", "rec-" + std::to_string(r)}, {"filter", filters[r]}, {"meta", metas[r]},
                           {"vector", vector}});
    }
    return records.dump();
}

bool same_outputs(const std::string& a, const std::string& b) {
    const std::vector<double> x = parse_hex_list(a);
    const std::vector<double> y = parse_hex_list(b);
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](double u, double v) {
        return (std::isnan(u) && std::isnan(v)) || bits_of(u) == bits_of(v);
    });
}

int record_platform(const std::map<std::string, Library>& libraries, const std::string& platform,
                    const std::string& path) {
    const Answers x86 = load_answers(path, "");
    if (load_answers(path, platform).outputs != x86.outputs) {
        std::cerr << path << " already holds answers of " << platform << "\n";
        return 1;
    }
    std::map<std::string, std::string> here;
    std::ofstream out(path, std::ios::app);
    out << "# The platform lines of " << platform << ", by\n#   pel_record_known_answers --platform " << platform << ' '
        << path << '\n';
    int differing = 0;
    for (const Case& c : x86.cases) {
        if (c.kind != "vector") continue;
        const std::vector<double> input = c.input.rfind("case:", 0) == 0 ? parse_hex_list(here.at(c.input.substr(5)))
                                                                         : make_input(c.input, c.dim);
        here[c.name] = hex_list(call_vector(libraries.at(c.library), c.call, c.key, c.metric, c.version, input));
        if (!same_outputs(here[c.name], c.output)) {
            out << "platform\t" << platform << '\t' << c.name << '\t' << here[c.name] << '\n';
            ++differing;
        }
    }
    std::cout << differing << " vector cases differ on " << platform << "; appended to " << path << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool platform = argc == 4 && std::string(argv[1]) == "--platform";
    if (argc != 3 && !platform) {
        std::cerr << "usage: pel_record_known_answers COMMIT OUTPUT\n"
                     "       pel_record_known_answers --platform NAME ANSWERS\n";
        return 2;
    }
    try {
        const Library arm64 = load("libpel_arm64", PEL_ARM64_PATH);
        const Library pellib = load("pellib", PEL_PELLIB_PATH);
        const Library linux = load("libpel_linux", PEL_LINUX_PATH);
        if (platform) {
            return record_platform({{arm64.name, arm64}, {pellib.name, pellib}, {linux.name, linux}}, argv[2], argv[3]);
        }

        Recorder r;
        r.out.open(argv[2]);
        r.out << "# Known answers of the three libraries: every line pins the bits a call returns.\n"
              << "# Recorded once from commit " << argv[1] << " on x86-64 (glibc), by\n"
              << "#   build/release/tests/known_answers/pel_record_known_answers " << argv[1]
              << " tests/known_answers/answers.txt\n"
              << "# The tests never write this file. The format is described in cases.h.\n";

        struct Codec {
            int version;
            const char* metric;
            const std::string& key;
        };
        // Scaling is on only under version 1 with "COSINE"; version 2 ignores the name.
        const Codec codecs[] = {{1, "COSINE", kKey128}, {1, "L2", kKey256}, {2, "COSINE", kKey128},
                                {2, "INNER_PRODUCT", kKey256}};
        std::uint64_t seed = 1000;
        for (const Codec& c : codecs) {
            const bool cosine = std::string(c.metric) == "COSINE";
            std::vector<int> dims = {2, 3, 5, 8, 17, 64, 255, 1536};
            if (cosine) dims.insert(dims.end() - 1, 768);
            std::vector<std::string> encoded;
            for (const int dim : dims) {
                encoded.push_back(r.vector_case(arm64, "encode", c.key, c.metric, c.version, dim,
                                                "random:" + std::to_string(seed++)));
            }
            for (std::size_t i = 0; i < dims.size(); ++i) {
                r.vector_case(arm64, "decode", c.key, c.metric, c.version, dims[i], "case:" + encoded[i]);
            }
            if (!cosine) continue;
            // The inputs whose handling changes most easily: all zeros, signed zeros
            // beside a subnormal, a squared norm that underflows, one that overflows,
            // and whole numbers; each decoded again, and the odd ones decoded raw.
            const std::pair<std::string, int> specials[] = {{"zeros", 4},          {"signed:" + std::to_string(seed++), 7},
                                                            {"subnormals:" + std::to_string(seed++), 6},
                                                            {"huge:" + std::to_string(seed++), 5},
                                                            {"integers", 9}};
            for (const auto& [input, dim] : specials) {
                const std::string name = r.vector_case(arm64, "encode", c.key, c.metric, c.version, dim, input);
                r.vector_case(arm64, "decode", c.key, c.metric, c.version, dim, "case:" + name);
            }
            for (const auto& [input, dim] : specials) {
                if (input.rfind("signed", 0) == 0 || input.rfind("huge", 0) == 0) {
                    r.vector_case(arm64, "decode", c.key, c.metric, c.version, dim, input);
                }
            }
            r.vector_case(arm64, "encode", c.key, c.metric, c.version, 1, "random:" + std::to_string(seed++));
        }

        // Record sets: each metric under version 1 (the name switches scaling), and
        // version 2 with a 256-bit cipher key.
        const Codec record_codecs[] = {{1, "COSINE", kKey128}, {1, "L2", kKey128}, {1, "INNER_PRODUCT", kKey128},
                                       {2, "COSINE", kKey256}};
        for (const Codec& c : record_codecs) {
            const int dim = c.version == 1 ? 5 : 8;
            const std::string encoded =
                r.records_case(arm64, "encode", c.key, c.metric, c.version, dim, "-", record_set(dim, seed));
            seed += 4;
            r.records_case(arm64, "decode", c.key, c.metric, c.version, dim, "random:" + std::to_string(seed++),
                           "case:" + encoded);
        }

        for (const Library* lib : {&pellib, &linux}) {
            for (const int dim : {1, 2, 3, 8, 33, 100}) {
                const std::string name =
                    r.vector_case(*lib, "encode", kEarlierKey, "", 0, dim, "random:" + std::to_string(seed++));
                r.vector_case(*lib, "decode", kEarlierKey, "", 0, dim, "case:" + name);
            }
            r.vector_case(*lib, "encode", kEarlierKey, "", 0, 3, "zeros");
        }

        for (const auto& [field, count] : r.angles) {
            r.out << "angles\t" << field.first << '\t' << (field.second ? "fused" : "unfused");
            for (const double angle : rotation_angles(field.first, field.second, count)) {
                r.out << '\t' << hex(angle) << ' ' << hex(std::cos(angle)) << ' ' << hex(std::sin(angle));
            }
            r.out << '\n';
        }
        r.out << "cases\t" << r.cases << '\n';
        std::cout << "recorded " << r.cases << " cases in " << argv[2] << '\n';
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "pel_record_known_answers: " << e.what() << '\n';
        return 1;
    }
}
