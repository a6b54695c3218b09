// Figures derived from a record: wall times, sorts in flight, the design over processes, scaling.
#include "records/derived.hpp"

#include <algorithm>
#include <cmath>

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

std::optional<process_design> design_of(const benchmark_results& results, const strategy_result& s) {
    if (s.processes.size() < 2 || !s.components) {
        return std::nullopt;
    }
    process_design d;
    const auto& goal = results.context.precision;
    d.target = goal ? goal->target : advised_precision;
    d.most_processes = goal && goal->max_processes > 0 ? goal->max_processes : max_processes_allowed;
    d.median_cv = median_cv(s.processes);
    if (d.median_cv) {
        d.processes_for_target = processes_for_cv(*d.median_cv, d.target);
    }
    std::vector<std::vector<std::uint64_t>> arrays;
    for (std::size_t p = 0, first = 0; p < s.processes.size() && s.array_ids.size() == s.durations.size(); ++p) {
        const auto begin = s.array_ids.begin() + static_cast<std::ptrdiff_t>(first);
        arrays.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(s.processes[p].size()));
        first += s.processes[p].size();
    }
    d.input_share = input_share(s.processes, arrays);
    const double in_flight = sorts_in_flight(results, s);
    if (!results.process_costs_ns.empty() && !s.durations.empty() && in_flight >= 1) {
        d.process_cost_ns = static_cast<double>(median_of(results.process_costs_ns));
        d.sort_cost_ns = static_cast<double>(s.summary.median) / in_flight;
        // Only the noise within a process averages away over more sorts: which array a sort sorted
        // is the same in every process.
        variance_components noise = *s.components;
        noise.within_cv *= std::sqrt(1 - d.input_share.value_or(0));
        d.sorts_per_process = optimal_sorts_per_process(noise, *d.process_cost_ns, *d.sort_cost_ns);
    }
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
            // A sort that uses one CPU and runs alone gains nothing from more: it has no efficiency.
            const bool one_cpu = info_named(s.name) != nullptr && !uses_every_cpu(s.name) && !runs_side_by_side(s.name);
            if (point.speedup && first.cpu_count() > 0 && !one_cpu) {
                point.efficiency = *point.speedup * first.cpu_count() / point.cpus;
            }
        }
    }
    return table;
}

const strategy_result* fastest_sort(const benchmark_results& results) {
    const strategy_result* fastest = nullptr;
    for (const auto& s : results.strategies) {
        if (!runs_side_by_side(s.name) && s.summary.median > 0 &&
            (fastest == nullptr || s.summary.median < fastest->summary.median)) {
            fastest = &s;
        }
    }
    return fastest;
}
