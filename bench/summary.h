// A console reporter that, after the usual output, prints one compact table:
// the median of every case (or its single run when there are no repetitions),
// followed by derived ratios set against the targets the team tracks. It only
// reports; the process exit status never depends on a measured value.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pel_bench {

struct Row {
    std::string name;       // without the "/manual_time" suffix
    double seconds = 0.0;   // real time per iteration
    std::int64_t repetitions = 1;
    std::map<std::string, double> counters;
};

class Table {
public:
    void put(Row row);
    const Row* find(const std::string& name) const;
    const std::vector<Row>& rows() const { return rows_; }

private:
    std::vector<Row> rows_;
};

// Time of case `a` divided by the time of case `b`, when both ran.
std::optional<double> time_ratio(const Table& table, const std::string& a, const std::string& b);
// A counter of one case, when the case ran and reported it.
std::optional<double> counter(const Table& table, const std::string& name, const std::string& counter_name);

struct Target {
    std::string label;
    std::function<std::optional<double>(const Table&)> value;
    // The value meets the target when it is at most `at_most` and at least
    // `at_least`; NaN leaves that side open, both NaN: shown only.
    double at_most;
    double at_least = std::numeric_limits<double>::quiet_NaN();
};

// A case that times a second library in the same iterations as the first
// reports the second's figures as counters named with kBaselinePrefix
// ("baseline.x_floor"), its time per call as kBaselinePrefix + "seconds". The
// summary gives them a row of their own, named as the case plus
// kBaselineSuffix, with the prefix taken off.
inline constexpr const char* kBaselinePrefix = "baseline.";
inline constexpr const char* kBaselineSuffix = " (baseline)";

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter(std::vector<std::string> counter_columns, std::vector<Target> targets);

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<std::string> counter_columns_;
    std::vector<Target> targets_;
    Table medians_;
    Table singles_;
};

}  // namespace pel_bench
