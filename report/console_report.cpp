#include "report/console_report.hpp"

#include "common/format.hpp"

#include <cmath>
#include <ostream>
#include <sstream>

namespace {

struct speedup_pair {
    std::string mean;
    std::string median;
};

speedup_pair speedups_over(const stats_map& slower, const stats_map& parallel) {
    return {format_speedup(slower.at(mean_key), parallel.at(mean_key)),
            format_speedup(slower.at(median_key), parallel.at(median_key))};
}

void print_rule(std::ostream& out) { out << std::string(100, '-') << std::endl << std::endl; }

void print_speedups(std::ostream& out, const char* heading, const speedup_pair& speedups, const char* ending) {
    out << heading << std::endl;
    out << "Mean speedup: " << speedups.mean << ending << std::endl;
    out << "Median speedup: " << speedups.median << ending << std::endl;
    out << std::endl;
}

} // namespace

void print_stats(stats_map stats, std::ostream& out) {
    for (const auto& [key, value] : stats) {
        out << key << ":" << std::endl;
        out << value << " nanoseconds." << std::endl;
    }
}

std::string runs_line(const benchmark_results& results) {
    std::uint64_t fewest = results.context.run_count;
    std::uint64_t most = fewest;
    std::string each;
    for (const auto& s : results.strategies) {
        fewest = std::min<std::uint64_t>(fewest, s.durations.size());
        most = std::max<std::uint64_t>(most, s.durations.size());
        each += (each.empty() ? "" : ", ") + s.name + " " + std::to_string(s.durations.size());
    }
    if (fewest == most) {
        return "Each sort ran " + std::to_string(most) + " times";
    }
    return "Each sort ran " + std::to_string(fewest) + " to " + std::to_string(most) + " times (" + each + ")";
}

void print_process_precision(const benchmark_results& results, std::ostream& out) {
    const run_context& c = results.context;
    const auto& goal = c.precision;
    out << "Across " << c.processes << " processes (median of the processes' medians, "
        << (goal ? "target \u00b1" + fixed_or_na(100 * goal->target, 1) + "%, " : "")
        << "distribution-free 95% intervals):" << std::endl;
    for (const auto& s : results.strategies) {
        out << s.name << ": ";
        if (!s.across_processes) {
            out << "no processes" << std::endl;
            continue;
        }
        const process_estimate& e = *s.across_processes;
        out << format_ms(e.median) << " ms";
        if (e.interval) {
            out << " [" << format_ms(e.interval->low) << ", " << format_ms(e.interval->high) << "] \u00b1"
                << fixed_or_na(100 * e.interval->precision, 1) << "%";
        } else {
            out << ", too few processes for an interval (at least " << min_runs_for_interval << ")";
        }
        if (s.target_reached) {
            out << (*s.target_reached ? ", target reached"
                                      : ", target not reached (at " +
                                            std::string(c.processes >= goal->max_processes
                                                            ? "--max-processes " + std::to_string(goal->max_processes)
                                                            : "--max-time") +
                                            ")");
        }
        out << std::endl;
    }
    out << std::endl;
}

std::vector<std::string> design_advice(const benchmark_results& results) {
    std::vector<std::string> lines;
    char text[400];
    for (const auto& s : results.strategies) {
        if (!s.components) {
            continue;
        }
        const variance_components& v = *s.components;
        std::snprintf(text, sizeof text, "%s: within-process cv %.1f%%, between-process cv %.1f%%%s", s.name.c_str(),
                      100 * v.within_cv, 100 * v.between_cv,
                      v.between_negative ? " (its estimate came out negative: the processes agreed better than their "
                                           "sorts' spread predicts)"
                                         : "");
        std::string line = text;
        const auto design = design_of(s, results.process_costs_ns, sorts_in_flight(results, s));
        if (design) {
            std::snprintf(text, sizeof text, "; a process costs %.0f ms beyond its sorts, a sort %.0f ms",
                          design->process_cost_ns / 1e6, design->sort_cost_ns / 1e6);
            line += text;
            if (design->sorts_per_process) {
                line += "; for the least time run " + std::to_string(*design->sorts_per_process) +
                        " sorts per process, about " + std::to_string(design->processes_for_advised) +
                        " processes for " + percent_text(advised_precision);
            } else {
                line += "; with no variation between processes, more sorts per process are cheapest (at today's " +
                        std::to_string(std::llround(v.sorts_per_process)) + " sorts per process, about " +
                        std::to_string(design->processes_for_advised) + " processes for " +
                        percent_text(advised_precision) + ")";
            }
        }
        lines.push_back(line);
    }
    return lines;
}

void print_precision(const benchmark_results& results, std::ostream& out) {
    if (results.context.processes > 1) {
        print_process_precision(results, out);
        return;
    }
    if (!results.context.precision) {
        return;
    }
    const precision_goal& goal = *results.context.precision;
    const std::string target = "\u00b1" + fixed_or_na(100 * goal.target, 1) + "%";
    out << "Precision of the medians (target " << target << ", distribution-free 95% intervals):" << std::endl;
    for (const auto& s : results.strategies) {
        out << s.name << ": " << s.durations.size() << " sorts, ";
        if (s.summary.interval) {
            out << "\u00b1" << fixed_or_na(100 * s.summary.interval->precision, 1) << "%";
        } else {
            out << "no interval";
        }
        if (s.target_reached.value_or(false)) {
            out << ", target reached" << std::endl;
            continue;
        }
        out << ", target not reached (at "
            << (s.durations.size() >= goal.max_runs ? "--max-runs " + std::to_string(goal.max_runs) : "--max-time")
            << ")";
        if (s.summary.interval) {
            out << "; about " << runs_likely_needed(s.summary, s.durations.size(), goal.target)
                << " runs would likely reach "
                << target;
        }
        out << std::endl;
    }
    out << std::endl;
}

void print_report(const report_stats& stats, std::uint64_t run_count, std::ostream& out,
                  const std::vector<strategy_result>& references, const std::string& runs) {
    out << "Results:" << std::endl;
    out << std::endl;
    if (runs.empty()) {
        out << "Each sort ran " << run_count << " times" << std::endl;
    } else {
        out << runs << std::endl;
    }
    out << std::endl;

    out << "Results for the sequential sort:" << std::endl;
    print_stats(stats.sequential, out);
    out << std::endl;
    print_rule(out);

    out << "Results for the thread sort: " << std::endl;
    print_stats(stats.thread, out);
    out << std::endl;
    print_rule(out);

    out << "Results for the parallel sort:" << std::endl;
    print_stats(stats.parallel, out);
    print_rule(out);

    out << "Results for the parallel_for parallel sort:" << std::endl;
    print_stats(stats.parallel_for, out);
    print_rule(out);

    const speedup_pair over_sequential = speedups_over(stats.sequential, stats.parallel);
    const speedup_pair over_threads = speedups_over(stats.thread, stats.parallel);
    const speedup_pair over_parallel_for = speedups_over(stats.parallel_for, stats.parallel);

    print_speedups(out, "Speedups for parallel to sequential: ", over_sequential, " times faster.");
    print_speedups(out, "Speedups for parallel to just threads: ", over_threads, " times faster");
    print_speedups(out, "Speedups for parallel quicksort using a normal for loop to using a parallel_for:",
                   over_parallel_for, " times faster");
    if (!references.empty()) {
        out << "Reference sorts:" << std::endl;
        for (const auto& reference : references) {
            out << reference.name << ": mean " << reference.summary.mean << " nanoseconds, median "
                << reference.summary.median << " nanoseconds, " << format_ratio(reference.times_faster_than_parallel)
                << " times faster than the parallel sort by median" << std::endl;
        }
        out << std::endl;
    }
    for (int k = 0; k < 4; ++k) {
        out << std::endl;
    }
}
