#include "cli/processes.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "bench/console.hpp"
#include "bench/progress.hpp"
#include "cli/classic_run.hpp"
#include "cli/step_record.hpp"
#include "cli/sweep.hpp"
#include "common/clock.hpp"
#include "common/error.hpp"
#include "machine/cpus.hpp"

namespace {

// The records of the processes so far as one run, with what each cost beyond its timed phases.
benchmark_results pool_processes(std::vector<benchmark_results> records, const std::vector<duration_ns>& walls,
                                 const std::optional<precision_goal>& goal) {
    std::vector<duration_ns> costs;
    for (std::size_t p = 0; p < records.size(); ++p) {
        costs.push_back(std::max<duration_ns>(0, walls[p] - std::llround(sorting_wall_ns(records[p]))));
    }
    if (goal) {
        // Every process ran exactly its --runs sorts; the goal counts processes.
        records.front().context.precision = goal;
        records.front().context.precision->max_runs = records.front().context.run_count;
    }
    benchmark_results pooled = pool_rounds(records);
    pooled.process_costs_ns = std::move(costs);
    return pooled;
}

report_stats stats_of(const benchmark_results& results) {
    const auto stats = [&](std::size_t k) {
        duration_list durations = results.strategies.at(k).durations;
        return compute_stats(durations);
    };
    return {stats(0), stats(1), stats(2), stats(3)};
}

} // namespace

bool processes_enough(const benchmark_results& results, const precision_goal& goal, std::int64_t elapsed_ns) {
    if (results.context.processes >= goal.max_processes || (goal.max_time_ns && elapsed_ns >= *goal.max_time_ns)) {
        return true;
    }
    return std::all_of(results.strategies.begin(), results.strategies.end(),
                       [](const strategy_result& s) { return s.target_reached.value_or(false); });
}

int run_processes(const options& opts) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const scratch_folder scratch("quicksort_bench-processes");
    const signal_catcher signals;
    const console con = standard_console(opts.exports.to_stdout());
    options child = opts;
    child.precision.reset(); // each process runs exactly --runs sorts; the goal adds processes
    const std::vector<std::string> args = step_arguments(child);
    const std::vector<unsigned> cpus = allowed_cpus();

    progress_line progress(::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr);
    const std::uint64_t runs = opts.sizes.run_count;
    const std::uint64_t strategies = opts.reference ? 6 : 4;
    progress.restart(opts.precision ? 0 : opts.processes * strategies * runs);

    const std::int64_t start = now_ns();
    std::vector<benchmark_results> records;
    std::vector<duration_ns> walls;
    for (std::uint64_t p = 0;; ++p) {
        if (p >= opts.processes) {
            if (!opts.precision ||
                processes_enough(pool_processes(records, walls, opts.precision), *opts.precision, now_ns() - start)) {
                break;
            }
        }
        const std::string name = "process " + std::to_string(p + 1) +
                                 (opts.precision ? "" : "/" + std::to_string(opts.processes));
        progress.phase("", 0);
        progress.set_prefix(name);
        const std::string record = (scratch.path / ("process-" + std::to_string(p + 1) + ".json")).string();
        measured_step outcome = measure_step(program, args, cpus, record, runs, progress);
        progress.erase();
        if (!outcome.ok) {
            print_error(std::cerr, name + ": " + outcome.failure);
            return outcome.interrupted_by != 0 ? 128 + outcome.interrupted_by : EXIT_FAILURE;
        }
        records.push_back(std::move(outcome.record));
        walls.push_back(outcome.wall_ns);
    }
    const benchmark_results results = pool_processes(std::move(records), walls, opts.precision);
    return report_run(opts, con, results, stats_of(results));
}
