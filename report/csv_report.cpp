// The CSV export: a row per sort.
#include <ostream>

#include "common/text.hpp"
#include "report/exports.hpp"

std::string csv_field(const std::string& text) {
    const std::string shown = printable(text);
    if (shown.find_first_of(",\"") == std::string::npos) {
        return shown;
    }
    std::string quoted = "\"";
    for (const char ch : shown) {
        quoted += ch;
        if (ch == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

namespace {

// A strategy's sorts, a row each: the process that ran it (1 for a run of one) and its place there.
void write_rows(const strategy_result& s, const std::string& lead, const std::string& values, std::ostream& out) {
    const std::vector<duration_list> one = {s.durations};
    const auto& processes = s.processes.size() > 1 ? s.processes : one;
    for (std::size_t p = 0; p < processes.size(); ++p) {
        for (std::size_t k = 0; k < processes[p].size(); ++k) {
            out << lead << csv_field(s.name) << ',' << p + 1 << ',' << k + 1 << ',' << processes[p][k] << ',' << values
                << "\r\n";
        }
    }
}

} // namespace

void write_csv(const benchmark_results& results, std::ostream& out) {
    // RFC 4180 ends every record with CRLF.
    out << "strategy,process,run,nanoseconds,values\r\n";
    for (const auto& s : results.strategies) {
        write_rows(s, "", results.context.values, out);
    }
}

void write_sweep_csv(const sweep_results& sweep, std::ostream& out) {
    out << "cpus,strategy,process,run,nanoseconds,values\r\n";
    for (const auto& step : sweep.steps) {
        for (const auto& s : step.results.strategies) {
            write_rows(s, std::to_string(step.cpu_count()) + ",", step.results.context.values, out);
        }
    }
    if (!sweep.complete()) {
        const std::size_t next = sweep.steps.size();
        out << (next < sweep.planned_counts.size() ? std::to_string(sweep.planned_counts[next]) : "") << ','
            << csv_field("incomplete: " + (sweep.failure.empty() ? "the sweep ended early" : sweep.failure)) << ",,,,\r\n";
    }
}
