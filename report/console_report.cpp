// The results report as the console shows it, and the blocks that follow it.
#include "report/console_report.hpp"

#include "common/format.hpp"
#include "report/breakdown_report.hpp"
#include "report/resources_report.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>
#include <ostream>
#include <sstream>

namespace {

void print_rule(std::ostream& out) { out << std::string(100, '-') << std::endl << std::endl; }

// Each speedup block's heading and line ending, in the order of the table of speedups.
constexpr std::pair<const char*, const char*> speedup_headings[] = {
    {"Speedups for parallel to sequential: ", " times faster."},
    {"Speedups for parallel to just threads: ", " times faster"},
    {"Speedups for parallel quicksort using a normal for loop to using a parallel_for:", " times faster"},
};
static_assert(std::size(speedup_headings) == speedup_table.size());

void print_speedups(std::ostream& out, const benchmark_results& results) {
    for (std::size_t k = 0; k < speedup_table.size(); ++k) {
        const auto [heading, ending] = speedup_headings[k];
        for (const auto& s : results.speedups) {
            if (s.name == speedup_table[k].name) {
                out << heading << std::endl;
                out << "Mean speedup: " << s.mean_printed << ending << std::endl;
                out << "Median speedup: " << s.median_printed << ending << std::endl;
                out << std::endl;
            }
        }
    }
}

void print_section(std::ostream& out, const benchmark_results& results, strategy id, const char* heading) {
    out << heading << std::endl;
    print_stats(stats_of(strategy_of(results, id).summary), out);
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
            // --max-time stops adding processes; it never cuts the --processes asked for.
            const bool at_minimum = goal->min_processes > 0 && c.processes <= goal->min_processes;
            out << (*s.target_reached ? ", target reached"
                    : c.processes >= goal->max_processes
                        ? ", target not reached (at --max-processes " + std::to_string(goal->max_processes) + ")"
                    : at_minimum ? ", target not reached (--processes " + std::to_string(goal->min_processes) +
                                       " is a minimum that --max-time does not cut)"
                                 : std::string(", target not reached (at --max-time)"));
        }
        out << std::endl;
    }
    out << std::endl;
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

namespace {

// The floor, every sort against the floor of the CPUs it uses, and the fastest sort.
void print_memory_floor(const benchmark_results& results, std::ostream& out) {
    const memory_floor& f = results.floor;
    const auto rate = [](const std::optional<double>& bytes_per_second) {
        return bytes_per_second ? fixed(*bytes_per_second / 1e9, 1) + " GB/s" : std::string("n/a");
    };
    out << "Memory floor, one pass reading and writing every value (" << f.bytes_per_pass << " bytes), median of "
        << f.passes_ns.size() << ": " << f.ns() << " nanoseconds on every CPU of the run (" << rate(f.bytes_per_second())
        << "), " << f.one_cpu_ns() << " nanoseconds on one CPU (" << rate(f.one_cpu_bytes_per_second()) << ")"
        << std::endl;
    if (f.ns() < median_of(f.passes_ns)) {
        out << "The passes over every CPU took " << median_of(f.passes_ns)
            << " nanoseconds, slower than one CPU's: one CPU's pass is the floor on every CPU too" << std::endl;
    }
    if (f.fits_in_cache(results.context.caches)) {
        out << "Both arrays of a pass fit in the largest cache: this is the cache's floor, not memory's" << std::endl;
    }
    out << "Each sort's median as a multiple of the floor of the CPUs it uses:" << std::endl;
    for (const auto& s : results.strategies) {
        const bool every = uses_every_cpu(s.name);
        out << "  " << s.name << ": " << format_ratio(exact_ratio(s.summary.median, every ? f.ns() : f.one_cpu_ns()))
            << " times the floor on " << (every ? "every CPU" : "one CPU") << std::endl;
    }
    if (const auto fastest = fastest_sort(results)) {
        out << "Fastest sort on this machine: " << fastest->name << ", "
            << format_ratio(exact_ratio(strategy_of(results, strategy::parallel).summary.median, fastest->summary.median))
            << " times faster than the parallel sort by median" << std::endl;
    }
}

} // namespace

void print_report(const benchmark_results& results, std::ostream& out, const std::string& runs) {
    out << "Results:" << std::endl;
    out << std::endl;
    if (runs.empty()) {
        out << "Each sort ran " << results.context.run_count << " times" << std::endl;
    } else {
        out << runs << std::endl;
    }
    out << std::endl;

    print_section(out, results, strategy::sequential, "Results for the sequential sort:");
    out << std::endl;
    print_rule(out);

    print_section(out, results, strategy::thread, "Results for the thread sort: ");
    out << std::endl;
    print_rule(out);

    print_section(out, results, strategy::parallel, "Results for the parallel sort:");
    print_rule(out);

    print_section(out, results, strategy::parallel_for, "Results for the parallel_for parallel sort:");
    print_rule(out);

    print_speedups(out, results);
    const bool any_reference =
        std::any_of(results.strategies.begin(), results.strategies.end(), [](const auto& s) { return s.reference; });
    if (any_reference) {
        out << "Reference sorts:" << std::endl;
        for (const auto& reference : results.strategies) {
            if (!reference.reference) {
                continue;
            }
            out << reference.name << ": mean " << reference.summary.mean << " nanoseconds, median "
                << reference.summary.median << " nanoseconds, " << format_ratio(reference.times_faster_than_parallel)
                << " times faster than the parallel sort by median" << std::endl;
        }
        if (results.floor.measured()) {
            print_memory_floor(results, out);
        }
        out << std::endl;
    }
    for (int k = 0; k < 4; ++k) {
        out << std::endl;
    }
}

void print_run(const benchmark_results& results, bool resources, std::ostream& out) {
    print_report(results, out, results.context.precision ? runs_line(results) : "");
    print_precision(results, out);
    if (results.breakdown) {
        print_breakdown(*results.breakdown, out);
    }
    if (resources) {
        print_resources(results.resources, out);
    }
}
