#include <cstdio>
#include <ostream>

#include "report/exports.hpp"
#include "report/sweep_report.hpp"

namespace {

// Pipes would split a table cell.
std::string cell(const std::string& text) {
    std::string escaped;
    for (const char ch : text) {
        if (ch == '|') {
            escaped += '\\';
        }
        escaped += ch == '\n' ? ' ' : ch;
    }
    return escaped;
}

} // namespace

void write_markdown(const benchmark_results& results, std::ostream& out) {
    const run_context& c = results.context;
    out << "Sorting " << c.array_size << " values, " << c.run_count << " runs per strategy, chunks of "
        << c.chunk_size << ", on " << cell(c.cpu_model) << " (" << c.logical_cpus << " logical CPUs).\n\n";

    out << "| strategy | mean (ms) | median (ms) | min (ms) | max (ms) |\n";
    out << "| --- | ---: | ---: | ---: | ---: |\n";
    for (const auto& s : results.strategies) {
        out << "| " << cell(s.name) << " | " << format_ms(s.summary.mean) << " | " << format_ms(s.summary.median)
            << " | " << format_ms(s.summary.min) << " | " << format_ms(s.summary.max) << " |\n";
    }

    out << "\n| speedup of the parallel sort | mean | median |\n";
    out << "| --- | ---: | ---: |\n";
    for (const auto& s : results.speedups) {
        out << "| " << cell(s.name) << " | " << format_ratio(s.mean_ratio) << " | " << format_ratio(s.median_ratio)
            << " |\n";
    }

    bool header_written = false;
    for (const auto& s : results.strategies) {
        if (!s.reference) {
            continue;
        }
        if (!header_written) {
            out << "\n| reference sort | times faster than the parallel sort (median) |\n";
            out << "| --- | ---: |\n";
            header_written = true;
        }
        out << "| " << cell(s.name) << " | " << format_ratio(s.times_faster_than_parallel) << " |\n";
    }
}

void write_sweep_markdown(const sweep_results& sweep, std::ostream& out) {
    std::string counts;
    for (const unsigned n : sweep.planned_counts) {
        counts += (counts.empty() ? "" : ", ") + std::to_string(n);
    }
    out << "CPU-count sweep over " << counts << " CPUs";
    if (!sweep.steps.empty()) {
        const run_context& c = sweep.steps.front().results.context;
        out << ": sorting " << c.array_size << " values, " << c.run_count << " runs per strategy, chunks of "
            << c.chunk_size << ", on " << cell(c.cpu_model);
    }
    out << ".\n";
    if (!sweep.complete()) {
        out << "\n**Incomplete:** " << sweep.steps.size() << " of " << sweep.planned_counts.size()
            << " steps completed; " << cell(sweep.failure.empty() ? "the sweep ended early" : sweep.failure) << ".\n";
    }
    for (const auto& strategy : scaling_of(sweep)) {
        out << "\n| " << cell(strategy.name) << ": CPUs | median (ms) | speedup | efficiency |\n";
        out << "| ---: | ---: | ---: | ---: |\n";
        for (const auto& point : strategy.points) {
            const auto cells = scaling_cells(point);
            out << "| " << cells[0] << " | " << cells[1] << " | " << cells[2] << " | " << cells[3] << " |\n";
        }
    }
}
