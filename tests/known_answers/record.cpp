// Records the known answers: runs every case through the built libraries and
// writes the answers file. It was run once, on the commit the file names; the
// tests only read the file. Recording again would pin whatever the code does
// now, so it is done only when a stored format is meant to change.
//
//   pel_record_known_answers COMMIT OUTPUT
//   pel_record_known_answers --platform NAME ANSWERS
//   pel_record_known_answers --again COMMIT ANSWERS LIBRARY/CALL...
// The second form runs the vector cases of an answers file on another platform
// and appends a platform line for each whose output differs there and that has
// none yet. The third, on x86-64, records the vector cases of the named
// libraries and calls anew (pellib/decode, say), each line where it was, drops
// their platform lines (to be recorded again by the second form), and notes
// the commit at the head of the file: for a stored format meant to change in
// those cases alone.
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
    const Answers recorded = load_answers(path, platform);
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
        const bool has_line = recorded.outputs.at(c.name) != c.output;
        if (!has_line && !same_outputs(here[c.name], c.output)) {
            out << "platform\t" << platform << '\t' << c.name << '\t' << here[c.name] << '\n';
            ++differing;
        }
    }
    std::cout << differing << " vector cases without a platform line differ on " << platform << "; appended to "
              << path << '\n';
    return 0;
}

// The vector cases of the selected "LIBRARY/CALL"s recorded anew, in place.
int record_again(const std::map<std::string, Library>& libraries, const std::string& commit, const std::string& path,
                 const std::vector<std::string>& selected) {
    const Answers before = load_answers(path, "");
    std::map<std::string, std::string> outputs = before.outputs;
    std::map<std::string, const Case*> again;
    for (const Case& c : before.cases) {
        if (c.kind == "vector" && std::find(selected.begin(), selected.end(), c.library + "/" + c.call) != selected.end()) {
            again[c.name] = &c;
        }
    }
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    in.close();

    std::vector<std::string> kept;
    std::size_t head = 0;  // the leading comment block
    while (head < lines.size() && lines[head].rfind('#', 0) == 0) kept.push_back(lines[head++]);
    kept.push_back("# The vector cases of");
    for (const std::string& s : selected) kept.back() += " " + s;
    kept.push_back("# were recorded anew from commit " + commit + " on x86-64 (glibc), by");
    kept.push_back("#   build/release/tests/known_answers/pel_record_known_answers --again " + commit + " " + path);
    for (const std::string& s : selected) kept.back() += " " + s;
    int changed = 0;
    for (std::size_t n = head; n < lines.size(); ++n) {
        std::vector<std::string> f = split_tabs(lines[n]);
        if (f[0] == "platform" && f.size() == 4 && again.count(f[2])) continue;
        if (f[0] == "vector" && f.size() == 10 && again.count(f[1])) {
            const Case& c = *again.at(f[1]);
            const std::vector<double> input = c.input.rfind("case:", 0) == 0
                                                  ? parse_hex_list(outputs.at(c.input.substr(5)))
                                                  : make_input(c.input, c.dim);
            const std::string result =
                hex_list(call_vector(libraries.at(c.library), c.call, c.key, c.metric, c.version, input));
            changed += result != f[9];
            outputs[c.name] = f[9] = result;
            std::string line = f[0];
            for (std::size_t i = 1; i < f.size(); ++i) line += "\t" + f[i];
            kept.push_back(line);
            continue;
        }
        kept.push_back(lines[n]);
    }
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : kept) out << line << '\n';
    std::cout << "recorded " << again.size() << " cases anew, " << changed << " with another output, in " << path
              << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool platform = argc == 4 && std::string(argv[1]) == "--platform";
    const bool again = argc >= 5 && std::string(argv[1]) == "--again";
    if (argc != 3 && !platform && !again) {
        std::cerr << "usage: pel_record_known_answers COMMIT OUTPUT\n"
                     "       pel_record_known_answers --platform NAME ANSWERS\n"
                     "       pel_record_known_answers --again COMMIT ANSWERS LIBRARY/CALL...\n";
        return 2;
    }
    try {
        const Library arm64 = load("libpel_arm64", PEL_ARM64_PATH);
        const Library pellib = load("pellib", PEL_PELLIB_PATH);
        const Library linux = load("libpel_linux", PEL_LINUX_PATH);
        const std::map<std::string, Library> libraries = {{arm64.name, arm64}, {pellib.name, pellib}, {linux.name, linux}};
        if (platform) {
            return record_platform(libraries, argv[2], argv[3]);
        }
        if (again) {
            return record_again(libraries, argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
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
