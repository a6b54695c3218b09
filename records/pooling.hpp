// The records of several processes (a sweep step's rounds, or a run's processes) as one record.
#pragma once

#include <optional>
#include <vector>

#include "records/results.hpp"

// Gathers processes one at a time: each strategy's durations kept per process and appended, the
// counts added up. Adding a process costs its own sorts, never a copy of those before it.
class process_pool {
public:
    // `unit` names a process in the warnings: "process", or a sweep step's "round".
    explicit process_pool(const char* unit = "process") : unit_(unit) {}
    void add(const benchmark_results& process, duration_ns cost_ns = 0);
    std::size_t size() const { return processes_; }

    // The processes so far as one record: every strategy's figures over all its sorts and over its
    // processes, the first process's breakdown, the machine as the first found it and the last
    // left it, and every process's phases. With `goal`, the run's precision goal over processes:
    // each process ran exactly its --runs sorts.
    benchmark_results pooled(const std::optional<precision_goal>& goal = std::nullopt) const;

    // Whether every strategy's median over the processes so far is within `target`.
    bool all_within(double target) const;

private:
    std::size_t processes_ = 0;
    benchmark_results first_; // the first process's record, as it came
    std::optional<environment_facts> last_after_;
    std::vector<strategy_result> strategies_; // durations and processes gathered, figures not yet made
    std::vector<duration_list> medians_;      // per strategy, each process's median
    const char* unit_;
    // Each warning once, with the processes that gave it.
    std::vector<std::pair<std::string, std::vector<std::size_t>>> warnings_;
    std::vector<phase_resources> resources_;
    std::uint64_t predicted_peak_bytes_ = 0;
    std::uint64_t peak_rss_bytes_ = 0;
    std::vector<duration_ns> costs_;
};

// The rounds of a sweep step as one record (process_pool over them).
benchmark_results pool_rounds(const std::vector<benchmark_results>& rounds);
