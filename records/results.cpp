// The records of a run: strategies made from their durations, and the run made from its strategies.
#include "records/results.hpp"

#include "analysis/stats.hpp"
#include "common/format.hpp"

#include <algorithm>
#include <stdexcept>
#include <cmath>
#include <cstdio>
#include <utility>


// A pass over every CPU can be no slower than over one: where it measured slower (a small array,
// the threads' start costing more than the pass), the one-CPU pass is the floor there too.
std::int64_t memory_floor::ns() const { return std::min(median_of(passes_ns), median_of(one_cpu_passes_ns)); }

bool memory_floor::fits_in_cache(const std::vector<cache_level>& caches) const {
    std::uint64_t largest = 0;
    for (const auto& c : caches) {
        largest = std::max(largest, c.size);
    }
    return largest > 0 && bytes_per_pass <= largest;
}

std::int64_t memory_floor::one_cpu_ns() const { return median_of(one_cpu_passes_ns); }

namespace {

std::optional<double> per_second(std::uint64_t bytes, std::int64_t ns) {
    return ns > 0 ? std::optional(1e9 * static_cast<double>(bytes) / static_cast<double>(ns)) : std::nullopt;
}

} // namespace

std::optional<double> memory_floor::bytes_per_second() const { return per_second(bytes_per_pass, ns()); }

std::optional<double> memory_floor::one_cpu_bytes_per_second() const { return per_second(bytes_per_pass, one_cpu_ns()); }

std::optional<double> exact_ratio(std::int64_t numerator, std::int64_t divisor) {
    if (divisor == 0) {
        return std::nullopt;
    }
    return static_cast<double>(numerator) / static_cast<double>(divisor);
}

namespace {

// Over processes the sorts' own interval means little: what may not be trusted is the estimate
// over the processes' medians.
std::vector<std::string> process_warnings(const strategy_result& s, double target) {
    const process_estimate& e = *s.across_processes;
    if (!e.interval) {
        return {"too few processes (" + std::to_string(e.processes) + ") for an interval of its median; at least " +
                std::to_string(min_runs_for_interval) + " processes are needed"};
    }
    if (e.interval->precision <= target) {
        return {};
    }
    char text[160];
    std::snprintf(text, sizeof text, "imprecise: over its %zu processes its median is known to \u00b1%.1f%% (%.1f%% interval)",
                  e.processes, 100 * e.interval->precision, 100 * e.interval->coverage);
    return {text};
}

} // namespace

strategy_result make_strategy(std::string name, duration_list durations) {
    strategy_result result;
    result.name = std::move(name);
    result.summary = summarize(durations);
    result.durations = std::move(durations);
    return result;
}

strategy_result make_strategy(strategy id, duration_list durations) {
    strategy_result result = make_strategy(name_of(id), std::move(durations));
    result.reference = info(id).reference;
    return result;
}

std::vector<std::string> noise_warnings(const duration_summary& summary, std::size_t runs, double target) {
    std::vector<std::string> warnings;
    char text[256];
    if (!summary.interval) {
        warnings.push_back("too few runs (" + std::to_string(runs) + ") for an interval of its median; at least " +
                           std::to_string(min_runs_for_interval) + " runs are needed");
    } else if (summary.interval->precision > target) {
        std::snprintf(text, sizeof text, "imprecise: its median is known to \u00b1%.1f%% (%.1f%% interval); ",
                      100 * summary.interval->precision, 100 * summary.interval->coverage);
        warnings.push_back(text + ("about " + std::to_string(runs_likely_needed(summary, runs, target)) +
                                   " runs would likely reach " + percent_text(target)));
    }
    if (summary.median > 0 && 2 * summary.max > 3 * summary.median) {
        std::snprintf(text, sizeof text,
                      "noisy: its slowest sort took %.2f times its median (more than 1.5); close other programs or "
                      "add runs",
                      static_cast<double>(summary.max) / static_cast<double>(summary.median));
        warnings.emplace_back(text);
    }
    return warnings;
}

std::string percent_text(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "\u00b1%g%%", 100 * fraction);
    return text;
}

std::string precision_text(const duration_summary& summary) {
    if (!summary.interval) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "\u00b1%.1f%%", 100 * summary.interval->precision);
    return text;
}

namespace {

speedup_result speedup(std::string name, const duration_summary& slower, const duration_summary& parallel) {
    return {std::move(name),
            format_speedup(slower.mean, parallel.mean),
            format_speedup(slower.median, parallel.median),
            exact_ratio(slower.mean, parallel.mean),
            exact_ratio(slower.median, parallel.median)};
}

} // namespace

benchmark_results make_results(run_context context, std::vector<strategy_result> strategies) {
    benchmark_results results;
    results.context = std::move(context);
    results.strategies = std::move(strategies);
    const duration_summary& parallel = strategy_of(results, divisor_strategy).summary;
    for (const auto& block : speedup_table) {
        results.speedups.push_back(speedup(block.name, strategy_of(results, block.over).summary, parallel));
    }
    const double target = results.context.precision ? results.context.precision->target : advised_precision;
    const auto& goal = results.context.precision;
    for (auto& s : results.strategies) {
        if (s.reference) {
            s.times_faster_than_parallel = exact_ratio(parallel.median, s.summary.median);
        }
        s.warnings = s.across_processes ? process_warnings(s, target) : noise_warnings(s.summary, s.durations.size(), target);
        if (goal && goal->max_processes > 0) {
            s.target_reached = process_precision(s) && *process_precision(s) <= goal->target;
        } else if (goal) {
            s.target_reached = s.summary.interval && s.summary.interval->precision <= goal->target;
        }
    }
    return results;
}

const strategy_result& strategy_of(const benchmark_results& results, strategy id) {
    for (const auto& s : results.strategies) {
        if (s.name == name_of(id)) {
            return s;
        }
    }
    throw std::out_of_range(std::string("the record holds no ") + name_of(id));
}

std::string kind_of(const sweep_results& run) {
    if (run.is_sweep()) {
        return "sweep";
    }
    return !run.steps.empty() && run.steps.front().results.context.processes > 1 ? "processes" : "run";
}

sweep_results as_sweep(benchmark_results run) {
    sweep_results single;
    single.planned_counts = {0};
    single.steps.push_back({std::move(run)});
    return single;
}

void add_process_figures(strategy_result& s) {
    if (s.processes.size() < 2) {
        return;
    }
    s.across_processes = estimate_over_processes(s.processes);
    s.components = components_of(s.processes);
}

duration_summary headline(const strategy_result& s) {
    duration_summary d = s.summary;
    if (s.across_processes) {
        d.median = s.across_processes->median;
        d.interval = s.across_processes->interval;
    }
    return d;
}

std::string sorts_text(const strategy_result& s) {
    const std::string sorts = std::to_string(s.durations.size());
    return s.processes.size() > 1 ? sorts + " (" + std::to_string(s.processes.size()) + " processes)" : sorts;
}

std::optional<double> process_precision(const strategy_result& s) {
    if (!s.across_processes || !s.across_processes->interval) {
        return std::nullopt;
    }
    return s.across_processes->interval->precision;
}
