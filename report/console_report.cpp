#include "report/console_report.hpp"

#include "common/format.hpp"

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

void print_precision(const benchmark_results& results, std::ostream& out) {
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
