// A sweep on the console: a line per step, then each strategy's scaling.
#include "report/sweep_report.hpp"

#include "report/comparison_report.hpp"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>

std::string scaling_measure(const strategy_scaling& strategy) {
    return strategy.by_throughput ? "by throughput: its sorts run side by side, one per CPU"
                                  : "by the median: its sorts run one at a time";
}

std::array<std::string, 5> scaling_cells(const scaling_point& point) {
    std::string efficiency = "n/a";
    if (point.efficiency) {
        efficiency = std::to_string(std::lround(*point.efficiency * 100)) + "%";
    }
    std::string speedup = format_ratio(point.speedup);
    if (point.speedup_interval) {
        speedup += " [" + format_ratio(point.speedup_interval->first) + ", " +
                   format_ratio(point.speedup_interval->second) + "]";
    }
    return {std::to_string(point.cpus), median_cell(point.median, point.precision),
            point.sorts_per_second ? fixed(*point.sorts_per_second, 2) : "n/a", speedup, efficiency};
}

void print_step_summary(const sweep_step& step, std::size_t number, std::size_t total, std::ostream& out) {
    const unsigned n = step.cpu_count();
    out << "Step " << number << "/" << total << " on " << cpus_text(n) << " ("
        << format_cpu_list(step.results.context.cpus) << "): medians";
    const char* separator = " ";
    for (const auto& s : step.results.strategies) {
        const std::string precision = precision_text(s.summary);
        out << separator << s.name << " " << format_ms(s.summary.median) << " ms"
            << (precision.empty() ? "" : " " + precision);
        separator = ", ";
    }
    if (step.results.floor.measured()) {
        // Measured per step, so that each step's scaling can be read against its memory system.
        out << "; memory floor " << format_ms_precise(step.results.floor.ns()) << " ms";
    }
    out << std::endl;
}

void print_scaling_tables(const sweep_results& sweep, std::ostream& out) {
    if (sweep.steps.empty()) {
        return;
    }
    const unsigned smallest = sweep.steps.front().cpu_count();
    for (const auto& strategy : scaling_of(sweep)) {
        out << std::endl;
        // "Scaling of the parallel sort", "Scaling of std::sort".
        out << (strategy.reference ? "Scaling of " : "Scaling of the ") << strategy.name << " ("
            << scaling_measure(strategy) << "; speedup against " << cpus_text(smallest)
            << "; efficiency = speedup / CPU ratio):" << std::endl;
        out << std::setw(6) << "CPUs" << std::setw(20) << "median (ms)" << std::setw(12) << "sorts/s" << std::setw(22)
            << "speedup [95%]" << std::setw(12) << "efficiency" << std::endl;
        for (const auto& point : strategy.points) {
            const auto cells = scaling_cells(point);
            // "±" takes two bytes and one column.
            out << std::setw(6) << cells[0] << std::setw(point.precision ? 21 : 20) << cells[1] << std::setw(12)
                << cells[2] << std::setw(22) << cells[3] << std::setw(12) << cells[4] << std::endl;
        }
    }
}
