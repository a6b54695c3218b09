// Figures derived from a record rather than stored in it: the phases' wall times and how many of a
// strategy's sorts ran at once, the design a run of processes suggests, and how a sweep scales.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/results.hpp"

// The wall time of the phases that timed strategy `s` (every process's).
duration_ns phase_wall_ns(const benchmark_results& results, const std::string& strategy);

// How many of a strategy's sorts ran at once on average: 1 for sorts timed one at a time; for
// sorts run side by side their summed durations over their phases' wall time.
double sorts_in_flight(const benchmark_results& results, const strategy_result& s);

// The wall time a record's sorts took by themselves: each strategy's durations over its sorts in flight.
double sorting_wall_ns(const benchmark_results& results);

// What a run of processes says of its own design: how its process medians spread, and so how many
// processes the target asks for; how much of the spread within a process is which array was
// sorted; and the sorts per process that reach a precision for the least wall time, from the
// variance components and what a process and a sort cost.
struct process_design {
    std::optional<double> median_cv;   // of the process medians, as they spread
    double target = advised_precision; // the run's precision goal, or the advised precision
    std::optional<std::uint64_t> processes_for_target; // from median_cv; absent without it
    std::uint64_t most_processes = max_processes_allowed; // what the options allow
    std::optional<double> input_share; // of the spread within processes: which array a sort sorted
    std::optional<double> process_cost_ns; // a process beyond its sorts: start, arrays, setup, checks, record
    std::optional<double> sort_cost_ns;    // the wall time one sort adds: its median over the sorts in flight
    std::optional<std::uint64_t> sorts_per_process; // absent when no noise between processes showed
};
// Nothing for a strategy of fewer than two processes.
// The fastest sort of the run by median among those timed one at a time (a sort beside others of
// its kind shares the machine with them); null when none has a median above zero.
const strategy_result* fastest_sort(const benchmark_results& results);

std::optional<process_design> design_of(const benchmark_results& results, const strategy_result& s);

// How one strategy's median moves with the CPU count, against its own figure at the smallest count.
// A strategy whose phase runs one sort per CPU side by side scales by throughput: on a perfect
// machine each sort takes as long on 2 CPUs as on 1 while the phase does twice the work. One that
// runs one sort at a time scales by its median.
struct scaling_point {
    unsigned cpus = 0;
    std::int64_t median = 0;
    std::optional<double> precision;  // of the median, from its 95% interval
    std::optional<double> sorts_per_second; // side by side: the phase's sorts over its wall time
    std::optional<double> speedup;    // against the smallest count: of the throughput, or of the median
    // 95%, by a seeded bootstrap of both steps' sorts; over rounds, of the rounds and then their sorts
    std::optional<std::pair<double, double>> speedup_interval;
    std::optional<double> efficiency; // speedup / (cpus / smallest count)
};
struct strategy_scaling {
    std::string name;
    bool reference = false;
    bool by_throughput = false; // else by the median of one sort
    std::vector<scaling_point> points;
};
std::vector<strategy_scaling> scaling_of(const sweep_results& sweep);
