// A plain driver for profilers (perf, callgrind): runs only the library's
// record-set calls, with the inputs read from files written beforehand, so a
// profile of it holds nothing but what a host's call costs.
//
//   pel_profile_records input  <count> <file>             write a record set
//   pel_profile_records encode <in-file> <calls> [<out>]  encode it <calls> times
//   pel_profile_records decode <in-file> <calls> [<out>]  decode an encoding
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "common.h"
#include "library.h"
#include "record_data.h"

namespace {

using namespace pel_bench;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    in.seekg(0, std::ios::end);
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

int usage() {
    std::cerr << "usage: pel_profile_records input <count> <file>\n"
                 "       pel_profile_records encode|decode <in-file> <calls> [<out-file>]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return usage();
    }
    const std::string mode = argv[1];
    try {
        if (mode == "input") {
            write_file(argv[3], record_set_text(std::atoi(argv[2])));
            return 0;
        }
        if (mode != "encode" && mode != "decode") {
            return usage();
        }
        const Arm64& lib = load_arm64(PEL_ARM64_PATH);
        const std::string input = read_file(argv[2]);
        const int calls = std::atoi(argv[3]);
        const std::vector<double> query = random_vector(kDim, 424242);
        std::string last;
        for (int i = 0; i < calls; ++i) {
            char* out = nullptr;
            const auto start = std::chrono::steady_clock::now();
            if (mode == "encode") {
                lib.encode(kKey, kSpace, kVersion, kDim, input.c_str(), &out);
            } else {
                lib.decode(kKey, kSpace, kVersion, kDim, query.data(), input.c_str(), &out);
            }
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (const char* e = lib.last_error_message()) {
                std::cerr << mode << " failed: " << e << '\n';
                return 1;
            }
            std::fprintf(stderr, "%s call %d: %.3f s\n", mode.c_str(), i + 1, seconds);
            if (i + 1 == calls && argc > 4) {
                last = out;
            }
            lib.free_output_buffer(out);
        }
        if (argc > 4) {
            write_file(argv[4], last);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
