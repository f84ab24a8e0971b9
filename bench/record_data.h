// The record sets every record-set measurement uses.
#pragma once

#include <cstddef>
#include <string>

namespace pel_bench {

inline constexpr int kDim = 768;
inline constexpr int kVersion = 1;
inline constexpr std::size_t kMetaBytes = 60;

// The compact JSON text of `count` records, each with an "id", a small
// "filter", a "meta" object whose compact dump is kMetaBytes long and a
// "vector" of `dim` numbers; the same text for the same arguments.
std::string record_set_text(int count, int dim = kDim);

}  // namespace pel_bench
