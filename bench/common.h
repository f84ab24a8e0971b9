// Inputs shared by the benchmark programs.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace pel_bench {

// 32 hex digits: 16 cipher key bytes for the record-set functions; the vector
// functions read the first 16 digits.
inline constexpr const char* kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
inline constexpr const char* kSpace = "COSINE";

// Components uniform in [-1, 1), reproducible from the seed.
inline std::vector<double> random_vector(int dim, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> draw(-1.0, 1.0);
    std::vector<double> v(static_cast<std::size_t>(dim));
    for (double& x : v) {
        x = draw(engine);
    }
    return v;
}

}  // namespace pel_bench

namespace pel_bench {

// `--smoke` (for CI) runs every case once and briefly: it stands for
// --benchmark_min_time=0.001, placed first so that later flags still override
// it, and tells the program to skip work that only serves the numbers. Removes
// the flag from argv; returns whether it was given.
inline bool take_smoke_flag(int& argc, char**& argv) {
    static std::vector<char*> args;
    static char min_time[] = "--benchmark_min_time=0.001";
    bool smoke = false;
    args.assign(argv, argv + argc);
    for (auto it = args.begin() + 1; it != args.end();) {
        if (std::string(*it) == "--smoke") {
            smoke = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (smoke) {
        args.insert(args.begin() + 1, min_time);
    }
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    return smoke;
}

// Takes --<name>=PATH out of argv; returns PATH, empty when not given.
inline std::string take_path_flag(int& argc, char** argv, const std::string& name) {
    const std::string flag = "--" + name + "=";
    std::string path;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, flag.size(), flag) == 0) {
            path = arg.substr(flag.size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return path;
}

}  // namespace pel_bench
