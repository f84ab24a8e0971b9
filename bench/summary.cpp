#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <utility>

namespace pel_bench {
namespace {

std::string base_name(const benchmark::BenchmarkReporter::Run& run) {
    std::string name = run.run_name.str();
    for (const char* suffix : {"/manual_time", "/real_time"}) {
        const std::string s(suffix);
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
            name.erase(name.size() - s.size());
        }
    }
    return name;
}

std::string format_time(double seconds) {
    char text[32];
    if (seconds < 1e-3) {
        std::snprintf(text, sizeof text, "%9.2f us", seconds * 1e6);
    } else if (seconds < 1.0) {
        std::snprintf(text, sizeof text, "%9.2f ms", seconds * 1e3);
    } else {
        std::snprintf(text, sizeof text, "%9.3f s ", seconds);
    }
    return text;
}

std::string format_value(double value) {
    char text[32];
    if (std::fabs(value) >= 1e5) {
        std::snprintf(text, sizeof text, "%12.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%12.3f", value);
    }
    return text;
}

}  // namespace

void Table::put(Row row) {
    for (Row& existing : rows_) {
        if (existing.name == row.name) {
            existing = std::move(row);
            return;
        }
    }
    rows_.push_back(std::move(row));
}

const Row* Table::find(const std::string& name) const {
    for (const Row& row : rows_) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

std::optional<double> time_ratio(const Table& table, const std::string& a, const std::string& b) {
    const Row* ra = table.find(a);
    const Row* rb = table.find(b);
    if (ra == nullptr || rb == nullptr || rb->seconds <= 0.0) {
        return std::nullopt;
    }
    return ra->seconds / rb->seconds;
}

std::optional<double> counter(const Table& table, const std::string& name, const std::string& counter_name) {
    const Row* row = table.find(name);
    if (row == nullptr) {
        return std::nullopt;
    }
    auto it = row->counters.find(counter_name);
    if (it == row->counters.end()) {
        return std::nullopt;
    }
    return it->second;
}

SummaryReporter::SummaryReporter(std::vector<std::string> counter_columns, std::vector<Target> targets)
    : benchmark::ConsoleReporter(OO_Tabular),
      counter_columns_(std::move(counter_columns)),
      targets_(std::move(targets)) {}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred) {
            continue;
        }
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration;
        if (!median && !single) {
            continue;
        }
        Table& table = median ? medians_ : singles_;
        Row row;
        row.name = base_name(run);
        row.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        row.repetitions = run.repetitions;
        Row baseline;
        baseline.name = row.name + kBaselineSuffix;
        baseline.repetitions = run.repetitions;
        bool has_baseline = false;
        const std::string prefix = kBaselinePrefix;
        for (const auto& [key, value] : run.counters) {
            if (key.compare(0, prefix.size(), prefix) != 0) {
                row.counters[key] = value.value;
            } else if (key == prefix + "seconds") {
                baseline.seconds = value.value;
                has_baseline = true;
            } else {
                baseline.counters[key.substr(prefix.size())] = value.value;
            }
        }
        table.put(std::move(row));
        if (has_baseline) {
            table.put(std::move(baseline));
        }
    }
}

void SummaryReporter::Finalize() {
    // Medians where there were repetitions, the single run elsewhere.
    Table table = singles_;
    for (const Row& row : medians_.rows()) {
        table.put(row);
    }
    std::int64_t repetitions = 1;
    for (const Row& row : medians_.rows()) {
        repetitions = std::max(repetitions, row.repetitions);
    }

    std::ostream& out = GetOutputStream();
    out << "\n== summary: "
        << (medians_.rows().empty() ? std::string("single runs")
                                    : "medians of " + std::to_string(repetitions) + " repetitions")
        << " ==\n";
    std::size_t width = 4;
    for (const Row& row : table.rows()) {
        width = std::max(width, row.name.size());
    }
    out << std::string(width, ' ') << "  " << "     time  ";
    for (const std::string& c : counter_columns_) {
        char head[32];
        std::snprintf(head, sizeof head, "%12s", c.c_str());
        out << head;
    }
    out << '\n';
    for (const Row& row : table.rows()) {
        out << row.name << std::string(width - row.name.size(), ' ') << "  " << format_time(row.seconds);
        for (const std::string& c : counter_columns_) {
            auto it = row.counters.find(c);
            out << (it == row.counters.end() ? std::string(12 - 1, ' ') + "-" : format_value(it->second));
        }
        out << '\n';
    }

    if (!targets_.empty()) {
        std::size_t label_width = 0;
        for (const Target& t : targets_) {
            label_width = std::max(label_width, t.label.size());
        }
        out << "\n== ratios ==\n";
        for (const Target& t : targets_) {
            const std::optional<double> value = t.value(table);
            out << t.label << std::string(label_width - t.label.size(), ' ') << "  ";
            if (!value) {
                out << "   (not run)\n";
                continue;
            }
            out << format_value(*value);
            for (const auto& [bound, at_most] : {std::pair(t.at_most, true), std::pair(t.at_least, false)}) {
                if (std::isnan(bound)) {
                    continue;
                }
                const bool met = at_most ? *value <= bound : *value >= bound;
                char goal[64];
                std::snprintf(goal, sizeof goal, "   target %s %.3g: %s", at_most ? "<=" : ">=", bound,
                              met ? "met" : "MISSED");
                out << goal;
            }
            out << '\n';
        }
    }
    out.flush();
    benchmark::ConsoleReporter::Finalize();
}

}  // namespace pel_bench
