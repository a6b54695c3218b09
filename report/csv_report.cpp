#include <ostream>

#include "report/exports.hpp"

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char ch : text) {
        quoted += ch;
        if (ch == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

void write_csv(const benchmark_results& results, std::ostream& out) {
    // RFC 4180 ends every record with CRLF.
    out << "strategy,run,nanoseconds,values\r\n";
    for (const auto& s : results.strategies) {
        for (std::size_t k = 0; k < s.durations.size(); ++k) {
            out << csv_field(s.name) << ',' << k + 1 << ',' << s.durations[k] << ',' << results.context.values
                << "\r\n";
        }
    }
}

void write_sweep_csv(const sweep_results& sweep, std::ostream& out) {
    out << "cpus,strategy,run,nanoseconds,values\r\n";
    for (const auto& step : sweep.steps) {
        for (const auto& s : step.results.strategies) {
            for (std::size_t k = 0; k < s.durations.size(); ++k) {
                out << step.cpu_count() << ',' << csv_field(s.name) << ',' << k + 1 << ',' << s.durations[k] << ','
                    << step.results.context.values << "\r\n";
            }
        }
    }
    if (!sweep.complete()) {
        const std::size_t next = sweep.steps.size();
        out << (next < sweep.planned_counts.size() ? std::to_string(sweep.planned_counts[next]) : "") << ','
            << csv_field("incomplete: " + (sweep.failure.empty() ? "the sweep ended early" : sweep.failure)) << ",,,\r\n";
    }
}
