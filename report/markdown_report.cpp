#include <cstdio>
#include <ostream>

#include "report/exports.hpp"

namespace {

std::string milliseconds(std::int64_t ns) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(ns) / 1e6);
    return text;
}

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
        out << "| " << cell(s.name) << " | " << milliseconds(s.summary.mean) << " | " << milliseconds(s.summary.median)
            << " | " << milliseconds(s.summary.min) << " | " << milliseconds(s.summary.max) << " |\n";
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
