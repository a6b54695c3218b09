#include "report/results.hpp"

#include "report/strategy.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>


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

benchmark_results make_results(run_context context, strategy_result sequential, strategy_result thread,
                               strategy_result parallel, strategy_result parallel_for,
                               std::vector<strategy_result> references) {
    benchmark_results results;
    results.context = std::move(context);
    results.speedups = {
        speedup("parallel to sequential", sequential.summary, parallel.summary),
        speedup("parallel to just threads", thread.summary, parallel.summary),
        speedup("parallel quicksort using a normal for loop to using a parallel_for", parallel_for.summary,
                parallel.summary),
    };
    for (auto& reference : references) {
        reference.reference = true;
        reference.times_faster_than_parallel = exact_ratio(parallel.summary.median, reference.summary.median);
    }
    const double target = results.context.precision ? results.context.precision->target : advised_precision;
    const auto judge = [&results, target](strategy_result& s) {
        s.warnings = s.across_processes ? process_warnings(s, target) : noise_warnings(s.summary, s.durations.size(), target);
        const auto& goal = results.context.precision;
        if (goal && goal->max_processes > 0) {
            s.target_reached = process_precision(s) && *process_precision(s) <= goal->target;
        } else if (goal) {
            s.target_reached = s.summary.interval && s.summary.interval->precision <= goal->target;
        }
    };
    for (strategy_result* s : {&sequential, &thread, &parallel, &parallel_for}) {
        judge(*s);
    }
    for (auto& reference : references) {
        judge(reference);
    }
    results.strategies.push_back(std::move(sequential));
    results.strategies.push_back(std::move(thread));
    results.strategies.push_back(std::move(parallel));
    results.strategies.push_back(std::move(parallel_for));
    for (auto& reference : references) {
        results.strategies.push_back(std::move(reference));
    }
    return results;
}

benchmark_results pool_rounds(const std::vector<benchmark_results>& rounds) {
    if (rounds.size() == 1) {
        return rounds.front();
    }
    run_context context = rounds.front().context;
    std::vector<strategy_result> strategies;
    for (const auto& s : rounds.front().strategies) {
        duration_list all;
        duration_list cpu;
        for (const auto& round : rounds) {
            for (const auto& other : round.strategies) {
                if (other.name == s.name) {
                    all.insert(all.end(), other.durations.begin(), other.durations.end());
                    cpu.insert(cpu.end(), other.cpu_ns.begin(), other.cpu_ns.end());
                }
            }
        }
        strategies.push_back(make_strategy(s.name, std::move(all)));
        if (cpu.size() == strategies.back().durations.size()) {
            strategies.back().cpu_ns = std::move(cpu);
        }
        for (const auto& round : rounds) {
            for (const auto& other : round.strategies) {
                if (other.name == s.name) {
                    strategies.back().processes.push_back(other.durations);
                }
            }
        }
    }
    context.run_count *= rounds.size();
    context.processes = rounds.size();
    if (context.precision) {
        context.precision->max_runs *= rounds.size();
    }
    for (auto& strategy : strategies) {
        add_process_figures(strategy);
    }
    std::vector<strategy_result> references(strategies.begin() + 4, strategies.end());
    benchmark_results pooled = make_results(std::move(context), std::move(strategies[0]), std::move(strategies[1]),
                                            std::move(strategies[2]), std::move(strategies[3]), std::move(references));
    pooled.breakdown = rounds.front().breakdown;
    // The machine as the first round found it and the last one left it; every round's phases.
    pooled.environment_before = rounds.front().environment_before;
    pooled.environment_after = rounds.back().environment_after;
    for (const auto& round : rounds) {
        pooled.environment_warnings.insert(pooled.environment_warnings.end(), round.environment_warnings.begin(),
                                           round.environment_warnings.end());
        pooled.resources.insert(pooled.resources.end(), round.resources.begin(), round.resources.end());
        pooled.predicted_peak_bytes = std::max(pooled.predicted_peak_bytes, round.predicted_peak_bytes);
        pooled.peak_rss_bytes = std::max(pooled.peak_rss_bytes, round.peak_rss_bytes);
    }
    return pooled;
}

namespace {

// A phase's sorts over its wall time (every round's), from the resources read at its ends.
std::optional<double> sorts_per_second(const benchmark_results& step, const strategy_result& s) {
    const duration_ns wall = phase_wall_ns(step, s.name);
    if (wall <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(s.durations.size()) / (static_cast<double>(wall) / 1e9);
}

} // namespace

duration_ns phase_wall_ns(const benchmark_results& results, const std::string& strategy) {
    duration_ns wall = 0;
    for (const auto& phase : results.resources) {
        if (phase.phase == strategy) {
            wall += phase.wall_ns;
        }
    }
    return wall;
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

double sorts_in_flight(const benchmark_results& results, const strategy_result& s) {
    const duration_ns wall = phase_wall_ns(results, s.name);
    if (!runs_side_by_side(s.name) || wall <= 0) {
        return 1;
    }
    double sum = 0;
    for (const auto d : s.durations) {
        sum += static_cast<double>(d);
    }
    return std::max(1.0, sum / static_cast<double>(wall));
}

double sorting_wall_ns(const benchmark_results& results) {
    double wall = 0;
    for (const auto& s : results.strategies) {
        double sum = 0;
        for (const auto d : s.durations) {
            sum += static_cast<double>(d);
        }
        wall += sum / sorts_in_flight(results, s);
    }
    return wall;
}

std::optional<process_design> design_of(const strategy_result& s, const std::vector<duration_ns>& process_costs_ns,
                                        double in_flight) {
    if (!s.components || process_costs_ns.empty() || s.durations.empty() || !(in_flight >= 1)) {
        return std::nullopt;
    }
    process_design d;
    d.process_cost_ns = static_cast<double>(median_of(process_costs_ns));
    d.sort_cost_ns = static_cast<double>(s.summary.median) / in_flight;
    d.sorts_per_process = optimal_sorts_per_process(*s.components, d.process_cost_ns, d.sort_cost_ns);
    const auto sorts = d.sorts_per_process.value_or(
        static_cast<std::uint64_t>(std::llround(s.components->sorts_per_process)));
    d.processes_for_advised = processes_for_precision(*s.components, sorts, advised_precision);
    return d;
}

std::vector<strategy_scaling> scaling_of(const sweep_results& sweep) {
    std::vector<strategy_scaling> table;
    if (sweep.steps.empty()) {
        return table;
    }
    const sweep_step& first = sweep.steps.front();
    for (const auto& s : first.results.strategies) {
        table.push_back({s.name, s.reference, runs_side_by_side(s.name), {}});
    }
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto& base = first.results.strategies[k];
        for (const auto& step : sweep.steps) {
            const auto& s = step.results.strategies.at(k);
            scaling_point point;
            point.cpus = step.cpu_count();
            // A step of several rounds is estimated over its rounds, each a process of its own.
            point.median = s.across_processes ? s.across_processes->median : s.summary.median;
            point.precision = s.across_processes ? process_precision(s)
                              : s.summary.interval ? std::optional(s.summary.interval->precision)
                                                   : std::nullopt;
            point.sorts_per_second = sorts_per_second(step.results, s);
            // Records without the phases' wall times (written before they were kept) scale by the median.
            table[k].by_throughput = table[k].by_throughput && point.sorts_per_second.has_value();
            table[k].points.push_back(point);
        }
        const std::optional<double> base_rate = table[k].points.front().sorts_per_second;
        for (std::size_t p = 0; p < table[k].points.size(); ++p) {
            scaling_point& point = table[k].points[p];
            const auto& s = sweep.steps[p].results.strategies.at(k);
            if (table[k].by_throughput) {
                point.speedup = *point.sorts_per_second / *base_rate;
            } else {
                point.speedup = exact_ratio(table[k].points.front().median, point.median);
                // Seeded by the point's place, so the same durations always give the same interval.
                const std::uint64_t seed = 0x5eed0000u + 1000 * k + p;
                if (p > 0 && base.processes.size() > 1 && s.processes.size() > 1) {
                    point.speedup_interval = two_level_bootstrap_ratio(base.processes, s.processes, seed);
                } else if (p > 0) {
                    point.speedup_interval = bootstrap_ratio_of_medians(base.durations, s.durations, seed);
                }
            }
            if (point.speedup && first.cpu_count() > 0) {
                point.efficiency = *point.speedup * first.cpu_count() / point.cpus;
            }
        }
    }
    return table;
}

std::vector<strategy_stages> stages_of(const breakdown_results& b) {
    const thread_figures& t = b.thread;
    const duration_ns both = std::min(t.left_ns, t.right_ns);
    const duration_ns threads_rest = t.sort_ns - t.first_partition_ns - both - t.idle_ns;
    const chunked_figures& p = b.parallel;
    const contention_figures& c = b.contention;
    return {
        {"sequential sort", {{"quicksort (instrumented)", b.sequential.sort_ns}}},
        {"thread sort",
         {{"first partition", t.first_partition_ns},
          {"both threads sorting", both},
          {"slower thread alone", t.idle_ns},
          {"rest", std::max<duration_ns>(0, threads_rest)}}},
        {"parallel sort",
         {{"launching tasks", p.launch_ns},
          {"waiting for chunk sorts", p.wait_ns},
          {"splitting into runs", p.split_ns},
          {"merging", p.merge_ns},
          {"rest", std::max<duration_ns>(0, p.rest_ns)}}},
        {"parallel_for parallel sort",
         {{"the sort alone", c.chunked_alone_ns},
          {"lost to concurrent sorts", std::max<duration_ns>(0, c.chunked_in_loop_ns - c.chunked_alone_ns)}}},
    };
}
