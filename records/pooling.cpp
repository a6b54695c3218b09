// Processes gathered into one record, one process at a time.
#include "records/pooling.hpp"

#include <algorithm>

void process_pool::add(const benchmark_results& process, duration_ns cost_ns) {
    if (processes_ == 0) {
        first_ = process;
        for (const auto& s : process.strategies) {
            strategy_result gathered;
            gathered.name = s.name;
            gathered.reference = s.reference;
            strategies_.push_back(std::move(gathered));
        }
        medians_.resize(strategies_.size());
    }
    ++processes_;
    costs_.push_back(cost_ns);
    last_after_ = process.environment_after;
    for (std::size_t k = 0; k < strategies_.size(); ++k) {
        strategy_result& gathered = strategies_[k];
        for (const auto& s : process.strategies) {
            if (s.name == gathered.name) {
                medians_[k].push_back(median_of(s.durations));
                gathered.durations.insert(gathered.durations.end(), s.durations.begin(), s.durations.end());
                gathered.cpu_ns.insert(gathered.cpu_ns.end(), s.cpu_ns.begin(), s.cpu_ns.end());
                gathered.array_ids.insert(gathered.array_ids.end(), s.array_ids.begin(), s.array_ids.end());
                gathered.processes.push_back(s.durations);
            }
        }
    }
    for (const auto& warning : process.environment_warnings) {
        auto same = std::find_if(warnings_.begin(), warnings_.end(), [&](const auto& w) { return w.first == warning; });
        if (same == warnings_.end()) {
            warnings_.push_back({warning, {}});
            same = warnings_.end() - 1;
        }
        same->second.push_back(processes_);
    }
    resources_.insert(resources_.end(), process.resources.begin(), process.resources.end());
    predicted_peak_bytes_ = std::max(predicted_peak_bytes_, process.predicted_peak_bytes);
    peak_rss_bytes_ = std::max(peak_rss_bytes_, process.peak_rss_bytes);
}

bool process_pool::all_within(double target) const {
    return processes_ > 0 && std::all_of(medians_.begin(), medians_.end(), [target](const duration_list& medians) {
        if (medians.size() < 2) {
            return false;
        }
        const process_estimate e = estimate_over_medians(medians);
        return e.interval && e.interval->precision <= target;
    });
}

benchmark_results process_pool::pooled(const std::optional<precision_goal>& goal) const {
    run_context context = first_.context;
    if (goal) {
        context.precision = goal;
        context.precision->max_runs = context.run_count;
    }
    if (processes_ == 1) {
        benchmark_results one = first_;
        one.context = std::move(context);
        one.process_costs_ns = costs_;
        return one;
    }
    std::vector<strategy_result> strategies;
    for (const auto& gathered : strategies_) {
        strategy_result s = make_strategy(gathered.name, gathered.durations);
        s.reference = gathered.reference;
        if (gathered.cpu_ns.size() == s.durations.size()) {
            s.cpu_ns = gathered.cpu_ns;
        }
        if (gathered.array_ids.size() == s.durations.size()) {
            s.array_ids = gathered.array_ids;
        }
        s.processes = gathered.processes;
        add_process_figures(s);
        strategies.push_back(std::move(s));
    }
    context.run_count *= processes_;
    context.processes = processes_;
    if (context.precision) {
        context.precision->max_runs *= processes_;
    }
    benchmark_results pooled = make_results(std::move(context), std::move(strategies));
    pooled.breakdown = first_.breakdown;
    // The machine as the first process found it and the last one left it; every process's phases.
    pooled.environment_before = first_.environment_before;
    pooled.environment_after = last_after_;
    for (const auto& [warning, from] : warnings_) {
        std::string which = from.size() == 1 ? std::string(unit_) + " " : std::string(unit_) + "es ";
        if (std::string(unit_) != "process" && from.size() > 1) {
            which = std::string(unit_) + "s ";
        }
        for (std::size_t k = 0; k < from.size(); ++k) {
            which += (k == 0 ? "" : k + 1 == from.size() ? " and " : ", ") + std::to_string(from[k]);
        }
        pooled.environment_warnings.push_back(which + ": " + warning);
    }
    pooled.resources = resources_;
    pooled.predicted_peak_bytes = predicted_peak_bytes_;
    pooled.peak_rss_bytes = peak_rss_bytes_;
    pooled.process_costs_ns = costs_;
    return pooled;
}

benchmark_results pool_rounds(const std::vector<benchmark_results>& rounds) {
    if (rounds.size() == 1) {
        return rounds.front();
    }
    process_pool pool("round");
    for (const auto& round : rounds) {
        pool.add(round);
    }
    benchmark_results pooled = pool.pooled();
    pooled.process_costs_ns.clear(); // a sweep's rounds are not timed from outside
    return pooled;
}
