// Peak resident memory of one call, measured in a fresh process of the running
// benchmark program: a process of its own starts with an untouched heap and
// its own high-water mark, so nothing earlier cases allocated, freed or kept
// can hide or inflate the figure. Linux only (/proc/self).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pel_bench {

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), -1 if unreadable.
long status_kib(const char* field);

// Resets VmHWM to the current resident size (Linux >= 4.0); false if it cannot.
bool reset_peak();

// Runs this program again (/proc/self/exe) with `args` after its name, writes
// `input` to its standard input, and returns what it printed on standard
// output; nothing when it could not be run or did not exit with status 0.
std::optional<std::string> run_self(const std::vector<std::string>& args, const std::string& input);

}  // namespace pel_bench
