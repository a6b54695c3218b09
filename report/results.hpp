// The result records every reporter is fed: what ran where, every measured duration, and the
// comparisons the console prints. Reporters only format these; none of them measures anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/stats.hpp"

struct run_context {
    std::string date_time; // local time, ISO 8601 with offset
    std::string host_name;
    std::string cpu_model;
    unsigned logical_cpus = 0;
    std::string compiler;
    std::string build_type;
    std::string tbb_version;
    std::uint64_t array_size = 0;
    std::int64_t chunk_size = 0;
    std::uint64_t run_count = 0;
    std::string generator;
    std::vector<unsigned> cpus; // a sweep step: the CPUs its process was confined to, as it saw them
    unsigned tbb_threads = 0;   // a sweep step: the threads oneTBB's arena had
};

struct strategy_result {
    std::string name;        // as the console report heads it, e.g. "parallel sort"
    duration_list durations; // nanoseconds, in the order the sorts finished
    duration_summary summary;
    bool reference = false;  // a standard-library sort measured for comparison
    std::optional<double> times_faster_than_parallel; // references only: parallel median / this median
};

// One of the console's speedup blocks: the parallel sort against another strategy.
struct speedup_result {
    std::string name;           // e.g. "parallel to sequential"
    std::string mean_printed;   // as the console prints it (integer quotient, or "n/a")
    std::string median_printed;
    std::optional<double> mean_ratio; // exact; absent when the divisor is 0
    std::optional<double> median_ratio;
};

struct benchmark_results {
    run_context context;
    std::vector<strategy_result> strategies; // sequential, thread, parallel, parallel_for, then references
    std::vector<speedup_result> speedups;    // in the console's order
};

// One step of a CPU-count sweep: a full result record, measured on `results.context.cpus`.
struct sweep_step {
    benchmark_results results;
    unsigned cpu_count() const { return static_cast<unsigned>(results.context.cpus.size()); }
};

struct sweep_results {
    std::vector<unsigned> planned_counts; // every CPU count asked for, ascending
    std::vector<sweep_step> steps;        // the completed steps, in order
    std::string failure;                  // why the sweep stopped early; empty when it is complete
    bool complete() const { return failure.empty() && steps.size() == planned_counts.size(); }
};

// How one strategy's median moves with the CPU count, against its own figure at the smallest count.
struct scaling_point {
    unsigned cpus = 0;
    std::int64_t median = 0;
    std::optional<double> speedup;    // median at the smallest count / this median
    std::optional<double> efficiency; // speedup / (cpus / smallest count)
};
struct strategy_scaling {
    std::string name;
    bool reference = false;
    std::vector<scaling_point> points;
};
std::vector<strategy_scaling> scaling_of(const sweep_results& sweep);

strategy_result make_strategy(std::string name, duration_list durations);

// Fills the speedups from the four main strategies, and marks the references with their ratios.
benchmark_results make_results(run_context context, strategy_result sequential, strategy_result thread,
                               strategy_result parallel, strategy_result parallel_for,
                               std::vector<strategy_result> references);

// numerator / divisor in floating point; absent when the divisor is 0.
std::optional<double> exact_ratio(std::int64_t numerator, std::int64_t divisor);

// "0", "0,2", "0-3,8": a CPU list as taskset prints it.
std::string format_cpu_list(const std::vector<unsigned>& cpus);

// An exact ratio with two decimals, or "n/a".
std::string format_ratio(const std::optional<double>& ratio);
