// A run of several processes, each measuring everything, pooled one process at a time.
#include "cli/processes.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "bench/console.hpp"
#include "bench/progress.hpp"
#include "cli/child_process.hpp"
#include "cli/classic_run.hpp"
#include "common/clock.hpp"
#include "common/error.hpp"
#include "machine/cpus.hpp"
#include "records/derived.hpp"
#include "report/exports.hpp"

namespace {

// The processes so far as one run of processes.
benchmark_results pooled(const process_pool& pool, const options& opts) {
    benchmark_results results = pool.pooled(opts.precision);
    // Each process ran on every CPU this one may use: no step of a sweep, with CPUs of its own.
    results.context.cpus.clear();
    results.context.tbb_threads = 0;
    results.processes_planned = opts.processes;
    return results;
}

} // namespace

bool processes_enough(const process_pool& pool, const precision_goal& goal, std::int64_t elapsed_ns) {
    if (pool.size() >= goal.max_processes || (goal.max_time_ns && elapsed_ns >= *goal.max_time_ns)) {
        return true;
    }
    return pool.all_within(goal.target);
}

int run_processes(const options& opts) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    campaign run("processes");
    const console con = standard_console(opts.exports.to_stdout());
    options child = opts;
    child.precision.reset(); // each process runs exactly --runs sorts; the goal adds processes
    const std::vector<std::string> args = child_arguments(child);
    const std::vector<unsigned> cpus = allowed_cpus();

    const std::uint64_t runs = opts.sizes.run_count;
    run.progress().restart(opts.precision ? 0 : opts.processes * strategies_measured(opts.reference) * runs);

    const std::int64_t start = now_ns();
    process_pool pool;
    for (std::uint64_t p = 0;; ++p) {
        if (p >= opts.processes && (!opts.precision || processes_enough(pool, *opts.precision, now_ns() - start))) {
            break;
        }
        const std::string name = "process " + std::to_string(p + 1) +
                                 (opts.precision ? "" : "/" + std::to_string(opts.processes));
        const measured_step outcome =
            run.measure(name, program, args, cpus, "process-" + std::to_string(p + 1) + ".json", runs);
        if (!outcome.ok) {
            const int status = campaign::failed(name + ": " + outcome.failure, outcome);
            // The processes that finished are kept in the exports, marked incomplete, as a sweep's steps are.
            if (pool.size() > 0) {
                benchmark_results done = pooled(pool, opts);
                done.failure = name + ": " + outcome.failure;
                write_exports(opts.exports, done);
            }
            return status;
        }
        // What the process cost beyond its timed phases, as this process timed it.
        pool.add(outcome.record,
                 std::max<duration_ns>(0, outcome.wall_ns - std::llround(sorting_wall_ns(outcome.record))));
    }
    return finish_run(opts, con, pooled(pool, opts));
}
