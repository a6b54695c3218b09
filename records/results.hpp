// The result records every reporter is fed: what ran where, every measured duration, and the
// comparisons the console prints. Reporters only format these; none of them measures anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/processes.hpp"
#include "analysis/summary.hpp"
#include "common/duration.hpp"
#include "machine/records.hpp"
#include "records/breakdown.hpp"
#include "records/strategy.hpp"

// --precision: measure each strategy until its median is known well enough, within limits. The
// settings of a run and the record of what it ran under.
struct precision_goal {
    double target = 0.02;          // the median's precision to reach, as a fraction
    std::uint64_t max_runs = 100;  // sorts per strategy at most
    std::optional<std::int64_t> max_time_ns; // no further batch once the run has taken this long
    std::uint64_t max_processes = 0; // a run of several processes adds processes up to this many
    std::uint64_t min_processes = 0; // ... from this many, which --max-time does not cut
};

struct run_context {
    std::string date_time; // local time, ISO 8601 with offset
    std::string host_name;
    std::string cpu_model;
    unsigned cpu_mhz = 0; // as /proc/cpuinfo gives it; 0 when unknown
    unsigned logical_cpus = 0;
    std::string compiler;
    std::string build_type;
    std::string program_version = "unknown"; // this program's version
    std::string source_revision = "unknown"; // `git describe --always --dirty` of the build
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
    std::vector<std::uint64_t> array_ids; // which array each sort sorted: the same array in every process
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

// One of the console's speedup blocks: the parallel sort against another strategy.
struct speedup_result {
    std::string name;           // e.g. "parallel to sequential"
    std::string mean_printed;   // as the console prints it (integer quotient, or "n/a")
    std::string median_printed;
    std::optional<double> mean_ratio; // exact; absent when the divisor is 0
    std::optional<double> median_ratio;
};

// One streaming pass over an array of the run's size, every element read and written to a second,
// pre-faulted array: the floor no sort of that array can beat, on one CPU and with the parallel loop
// on every CPU of the run. Measured with the reference sorts only.
struct memory_floor {
    duration_list passes_ns;          // on every CPU of the run
    duration_list one_cpu_passes_ns;  // on one CPU
    std::uint64_t bytes_per_pass = 0; // read and written
    bool measured() const { return !passes_ns.empty() && !one_cpu_passes_ns.empty(); }
    std::int64_t ns() const;         // the floor on every CPU: the faster of its median pass and one CPU's
    std::int64_t one_cpu_ns() const; // the median pass on one CPU
    // Whether the two arrays of a pass fit in the largest cache of `caches`: the floor is then the
    // cache's, not memory's.
    bool fits_in_cache(const std::vector<cache_level>& caches) const;
    // Bytes read and written per second at the median; absent for a pass of no time.
    std::optional<double> bytes_per_second() const;
    std::optional<double> one_cpu_bytes_per_second() const;
};

// The floor's names where a history keeps it beside the sorts.
inline constexpr char memory_floor_series[] = "memory floor";
inline constexpr char memory_floor_one_cpu_series[] = "memory floor (one CPU)";

struct benchmark_results {
    run_context context;
    std::vector<strategy_result> strategies; // the measured strategies in the table's order, then references
    std::vector<speedup_result> speedups;    // in the console's order
    std::optional<breakdown_results> breakdown;
    std::optional<environment_facts> environment_before; // taken before the first phase
    std::optional<environment_facts> environment_after;  // and after the last
    std::vector<std::string> environment_warnings;       // what changed in between
    std::vector<phase_resources> resources;
    std::uint64_t predicted_peak_bytes = 0; // the memory model's figure for this run
    std::uint64_t peak_rss_bytes = 0;       // the process's measured peak resident memory
    memory_floor floor;                     // with the reference sorts
    // A run of several processes: what each took beyond its sorts (starting, generating arrays,
    // setting up its phases, copying and checking, writing its record), as the parent timed it.
    std::vector<duration_ns> process_costs_ns;
    // A run of several processes: the processes asked for, and why it ended before them (empty
    // when it did not); context.processes counts those that finished.
    std::uint64_t processes_planned = 0;
    std::string failure;
    bool complete() const { return failure.empty(); }
};

// The record's entry for a strategy of the table; throws std::out_of_range when it holds none.
const strategy_result& strategy_of(const benchmark_results& results, strategy id);

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
    bool cpu_sweep = false;               // a sweep over CPU counts; else a single run held as one step
    bool complete() const { return failure.empty() && steps.size() == planned_counts.size(); }
    bool is_sweep() const { return cpu_sweep; }
};

// A single run as the sweep of one step that every reader of sweeps takes.
sweep_results as_sweep(benchmark_results run);

// What a record is, as it says of itself and the history stores it: "run", "processes" (a run of
// several processes) or "sweep".
std::string kind_of(const sweep_results& run);

// A strategy's record from its durations: its name, its table row's reference mark, its summary.
strategy_result make_strategy(strategy id, duration_list durations);
strategy_result make_strategy(std::string name, duration_list durations);

// The record of a run from its strategies (the measured ones first, in the table's order): the
// speedups of the parallel sort, the references' ratios to it, and each strategy's warnings and,
// with a precision goal, whether it reached the target.
benchmark_results make_results(run_context context, std::vector<strategy_result> strategies);

// numerator / divisor in floating point; absent when the divisor is 0.
std::optional<double> exact_ratio(std::int64_t numerator, std::int64_t divisor);

// Fills a strategy's figures over its processes from `processes`; nothing for fewer than two.
void add_process_figures(strategy_result& s);

// The figures a reader is shown first: the sorts' summary, with the median and its interval over
// the processes when the run had several.
duration_summary headline(const strategy_result& s);

// "60", or "60 (6 processes)": the sorts behind a strategy's figures.
std::string sorts_text(const strategy_result& s);

// The precision of a strategy's process-level median, when it has an interval.
std::optional<double> process_precision(const strategy_result& s);

// The precision a careful reader wants of a median before trusting it.
inline constexpr double advised_precision = 0.02;

// The most processes (--processes, --max-processes) and sorts per strategy (--runs) a run may ask
// for: advice never names a count beyond them.
inline constexpr std::uint64_t max_processes_allowed = 1000;
inline constexpr std::uint64_t max_runs_allowed = 1'000'000;
// `ab`: its rounds, each both sides once; six is the fewest whose signed-rank test can reach 5%.
inline constexpr std::uint64_t min_ab_rounds = 6;
inline constexpr std::uint64_t max_ab_rounds = 1000;

// Why a strategy's figures may not be trusted, as advice: its median known no better than `target`
// (advised_precision, or the precision goal of the run), or no interval at all, with the runs that
// would likely reach it; and a slowest run more than half above the median.
std::vector<std::string> noise_warnings(const duration_summary& summary, std::size_t runs,
                                        double target = advised_precision);

// "±2%", "±0.5%": a precision sought.
std::string percent_text(double fraction);

// "±1.2%": the precision of the median; empty when there is no interval.
std::string precision_text(const duration_summary& summary);
