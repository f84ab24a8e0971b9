// Running a program and reading what it prints, for tests of whole hosts.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace pel_test {

struct Command {
    int status;  // as pclose returns it
    std::string out;
};

inline Command run_command(const std::string& command) {
    Command result{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    result.status = pclose(pipe);
    return result;
}

inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace pel_test
