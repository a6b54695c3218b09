// The benchmark run: its mode chosen, the classic run, and the end every run shares.
#include "cli/classic_run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "bench/measure.hpp"
#include "bench/memory_model.hpp"
#include "cli/child_process.hpp"
#include "cli/processes.hpp"
#include "cli/recording.hpp"
#include "cli/step_process.hpp"
#include "cli/sweep.hpp"
#include "common/error.hpp"
#include "machine/cpus.hpp"
#include "report/advice_report.hpp"
#include "report/console_report.hpp"
#include "report/exports.hpp"

int run_benchmark(const options& opts) {
    // A run that cannot fit in memory is refused now, not after minutes of allocating. A sweep's
    // largest step needs the most.
    unsigned cpus = usable_cpu_count();
    if (!opts.cpu_counts.empty()) {
        cpus = *std::max_element(opts.cpu_counts.begin(), opts.cpu_counts.end());
    }
    if (const auto refusal = memory_refusal(predict_peak(opts, cpus), memory_room_now())) {
        print_error(std::cerr, *refusal);
        return 2;
    }
    if (opts.validate) {
        return 0; // what ab asks of a side before its first round
    }
    if (const int refused = check_history(opts); refused != 0) {
        return refused;
    }
    if (const std::optional<int> result_fd = inherited_step_result()) {
        if (!opts.cpu_counts.empty()) {
            print_error(std::cerr, "--cpus: a sweep step cannot start a sweep of its own");
            return 2;
        }
        if (const char* version = std::getenv(step_units_variable)) {
            return run_as_worker(opts, *result_fd, version);
        }
        return run_as_child(opts, *result_fd);
    }
    if (!opts.cpu_counts.empty()) {
        return run_sweep(opts, topology_cpu_order());
    }
    if (opts.processes > 1) {
        return run_processes(opts);
    }
    return run_classic(opts);
}

int run_classic(const options& opts) {
    const console con = standard_console(opts.exports.to_stdout());
    return finish_run(opts, con, measure(opts, con));
}

int finish_run(const options& opts, const console& con, const benchmark_results& results) {
    con.clear();
    print_run(results, opts.resources, con.out);
    // Advice on how far each median can be trusted, beside the report rather than in it.
    print_advice(results, std::cerr);
    write_exports(opts.exports, results);
    const int status = record_run(opts, as_sweep(results));
    if (!opts.no_pause && !opts.exports.to_stdout()) {
        wait_for_key(con.out, STDIN_FILENO);
    }
    return status;
}
