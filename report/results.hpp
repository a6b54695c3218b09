// The result records every reporter is fed: what ran where, every measured duration, and the
// comparisons the console prints. Reporters only format these; none of them measures anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/processes.hpp"
#include "common/duration.hpp"
#include "machine/records.hpp"
#include "report/stats.hpp"

// --precision: measure each strategy until its median is known well enough, within limits. The
// settings of a run and the record of what it ran under.
struct precision_goal {
    double target = 0.02;          // the median's precision to reach, as a fraction
    std::uint64_t max_runs = 100;  // sorts per strategy at most
    std::optional<std::int64_t> max_time_ns; // no further batch once the run has taken this long
    std::uint64_t max_processes = 0; // a run of several processes adds processes up to this many
};

struct run_context {
    std::string date_time; // local time, ISO 8601 with offset
    std::string host_name;
    std::string cpu_model;
    unsigned cpu_mhz = 0; // as /proc/cpuinfo gives it; 0 when unknown
    unsigned logical_cpus = 0;
    std::string compiler;
    std::string build_type;
    std::string tbb_version;
    std::string kernel;             // the kernel's release; empty when unknown (older records)
    std::uint64_t memory_bytes = 0; // the machine's memory; 0 when unknown
    std::uint64_t array_size = 0;
    std::int64_t chunk_size = 0;
    std::uint64_t run_count = 0;
    std::string generator;
    std::string values = "classic"; // the input's value kind: "classic" or "wide"
    std::vector<unsigned> cpus; // a sweep step: the CPUs its process was confined to, as it saw them
    unsigned tbb_threads = 0;   // a sweep step: the threads oneTBB's arena had
    bool cpu_scaling_enabled = false; // a cpufreq governor other than "performance"
    std::vector<cache_level> caches;
    std::vector<double> load_avg; // 1, 5 and 15 minutes, when the run started
    std::optional<precision_goal> precision; // run_count is then each strategy's minimum
    std::uint64_t processes = 1; // fresh processes that measured; run_count counts all their sorts
};

struct strategy_result {
    std::string name;        // as the console report heads it, e.g. "parallel sort"
    duration_list durations; // nanoseconds, in the order the sorts finished
    duration_list cpu_ns;    // the process's CPU time around each sort, where sorts ran one at a time
    duration_summary summary;
    bool reference = false;  // a standard-library sort measured for comparison
    std::optional<double> times_faster_than_parallel; // references only: parallel median / this median
    std::vector<std::string> warnings; // why its figures may not be trusted (noise)
    std::optional<bool> target_reached; // with a precision goal: its median reached the target
    // A run of several processes: each one's durations (together `durations`, in this order), the
    // estimate over their medians and the variance within and between them.
    std::vector<duration_list> processes;
    std::optional<process_estimate> across_processes;
    std::optional<variance_components> components;
};

// Fills a strategy's figures over its processes from `processes`; nothing for fewer than two.
void add_process_figures(strategy_result& s);

// The design that reaches a precision over processes for the least wall time, from a strategy's
// variance components and what a process and a sort cost.
struct process_design {
    double process_cost_ns = 0; // a process beyond its sorts: start, arrays, phases' setup, copies and checks, record
    double sort_cost_ns = 0;    // the wall time one sort of the strategy adds: its median over the sorts in flight
    std::optional<std::uint64_t> sorts_per_process; // absent when no between-process variation showed
    std::uint64_t processes_for_advised = 0; // of sorts_per_process sorts (or the run's), for advised_precision
};
std::optional<process_design> design_of(const strategy_result& s, const std::vector<duration_ns>& process_costs_ns,
                                        double in_flight);

// The figures a reader is shown first: the sorts' summary, with the median and its interval over
// the processes when the run had several.
duration_summary headline(const strategy_result& s);

// "60", or "60 (6 processes)": the sorts behind a strategy's figures.
std::string sorts_text(const strategy_result& s);

// The precision of a strategy's process-level median, when it has an interval.
std::optional<double> process_precision(const strategy_result& s);

// The precision a careful reader wants of a median before trusting it.
inline constexpr double advised_precision = 0.02;

// Why a strategy's figures may not be trusted, as advice: its median known no better than `target`
// (advised_precision, or the precision goal of the run), or no interval at all, with the runs that
// would likely reach it; and a slowest run more than half above the median.
std::vector<std::string> noise_warnings(const duration_summary& summary, std::size_t runs,
                                        double target = advised_precision);

// "±2%", "±0.5%": a precision sought.
std::string percent_text(double fraction);

// "±1.2%": the precision of the median; empty when there is no interval.
std::string precision_text(const duration_summary& summary);

// One of the console's speedup blocks: the parallel sort against another strategy.
struct speedup_result {
    std::string name;           // e.g. "parallel to sequential"
    std::string mean_printed;   // as the console prints it (integer quotient, or "n/a")
    std::string median_printed;
    std::optional<double> mean_ratio; // exact; absent when the divisor is 0
    std::optional<double> median_ratio;
};

// Where each strategy's time goes, from instrumented sorts run after the timed phases; each
// strategy's figures are those of its run with the median instrumented time.
struct quicksort_figures {
    std::int64_t partitions = 0;
    std::int64_t counted = 0;            // elements counted, one atomic increment each
    std::int64_t counted_pivot_largest = 0; // of those, in partitions whose pivot was its range's largest value
    std::int64_t swaps = 0;
    std::int64_t deepest = 0;            // deepest nesting of quicksort calls that partitioned
    double counted_per_element = 0;
    duration_ns sort_ns = 0;             // one instrumented sort
};
struct thread_figures {
    duration_ns first_partition_ns = 0;
    duration_ns left_ns = 0;  // the left thread's sort
    duration_ns right_ns = 0;
    duration_ns idle_ns = 0;  // the faster thread finished this long before the slower one
    double left_share = 0;    // where the pivot split the array: the left side's share of the size
    duration_ns sort_ns = 0;
};
struct chunked_figures {
    duration_ns launch_ns = 0;
    duration_ns wait_ns = 0;
    duration_ns split_ns = 0;
    duration_ns merge_ns = 0;
    duration_ns rest_ns = 0;        // the sort's time outside the four stages above
    duration_ns chunk_span_ns = 0;  // first chunk task's start to the last one's end
    duration_ns task_sum_ns = 0;    // the chunk tasks' times added up
    std::int64_t appended = 0;      // elements the merge appended
    std::int64_t reallocations = 0; // times a merge array grew into new storage
    duration_ns sort_ns = 0;
};
struct contention_figures {
    duration_ns thread_in_loop_ns = 0; // the thread sort's timed median, ten at a time
    duration_ns thread_alone_ns = 0;   // its median run one at a time
    std::optional<double> thread_factor;
    duration_ns chunked_in_loop_ns = 0; // the parallel_for parallel sort's timed median
    duration_ns chunked_alone_ns = 0;   // the parallel sort's timed median
    std::optional<double> chunked_factor;
};
struct breakdown_results {
    std::uint64_t runs = 0;
    quicksort_figures sequential;
    thread_figures thread;
    chunked_figures parallel;
    contention_figures contention;
};

struct benchmark_results {
    run_context context;
    std::vector<strategy_result> strategies; // sequential, thread, parallel, parallel_for, then references
    std::vector<speedup_result> speedups;    // in the console's order
    std::optional<breakdown_results> breakdown;
    std::optional<environment_facts> environment_before; // taken before the first phase
    std::optional<environment_facts> environment_after;  // and after the last
    std::vector<std::string> environment_warnings;       // what changed in between
    std::vector<phase_resources> resources;
    std::uint64_t predicted_peak_bytes = 0; // the memory model's figure for this run
    std::uint64_t peak_rss_bytes = 0;       // the process's measured peak resident memory
    // A run of several processes: what each took beyond its sorts (starting, generating arrays,
    // setting up its phases, copying and checking, writing its record), as the parent timed it.
    std::vector<duration_ns> process_costs_ns;
};

// The wall time of the phases that timed strategy `s` (every process's).
duration_ns phase_wall_ns(const benchmark_results& results, const std::string& strategy);

// How many of a strategy's sorts ran at once on average: 1 for sorts timed one at a time; for
// sorts run side by side their summed durations over their phases' wall time.
double sorts_in_flight(const benchmark_results& results, const strategy_result& s);

// The wall time a record's sorts took by themselves: each strategy's durations over its sorts in flight.
double sorting_wall_ns(const benchmark_results& results);

// One step of a CPU-count sweep: a full result record, measured on `results.context.cpus`.
struct sweep_step {
    benchmark_results results;
    unsigned cpu_count() const { return static_cast<unsigned>(results.context.cpus.size()); }
};

struct sweep_results {
    std::vector<unsigned> planned_counts; // every CPU count asked for, ascending
    std::vector<sweep_step> steps;        // the completed steps, ascending by CPU count
    unsigned rounds = 1;                  // every step ran once per round, each round a process of its own
    std::uint64_t seed = 1;               // of the rounds' shuffled orders
    std::vector<std::vector<unsigned>> order; // the CPU counts in the order each round ran them
    std::string failure;                  // why the sweep stopped early; empty when it is complete
    bool complete() const { return failure.empty() && steps.size() == planned_counts.size(); }
    // A sweep's steps name their CPUs; a single run is held as one step without them.
    bool is_sweep() const { return !steps.empty() && steps.front().cpu_count() > 0; }
};

// The records of several processes (a step's rounds, or a run's processes) as one: each strategy's
// durations one process after the other and kept per process, the figures recomputed, the counts
// added up; the first process's breakdown.
benchmark_results pool_rounds(const std::vector<benchmark_results>& rounds);

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

strategy_result make_strategy(std::string name, duration_list durations);

// Fills the speedups from the four main strategies, and marks the references with their ratios.
benchmark_results make_results(run_context context, strategy_result sequential, strategy_result thread,
                               strategy_result parallel, strategy_result parallel_for,
                               std::vector<strategy_result> references);

// numerator / divisor in floating point; absent when the divisor is 0.
std::optional<double> exact_ratio(std::int64_t numerator, std::int64_t divisor);

// One strategy's instrumented time cut into stages, for stacked bars and shares.
struct stage_time {
    std::string stage;
    duration_ns ns = 0;
};
struct strategy_stages {
    std::string name;
    std::vector<stage_time> stages;
};
std::vector<strategy_stages> stages_of(const breakdown_results& breakdown);
