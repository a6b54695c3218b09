// Dispatches to the mode the command line asks for; each mode lives in a module of its own.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <system_error>

#include "cli/check_mode.hpp"
#include "common/error.hpp"
#include "cli/classic_run.hpp"
#include "cli/compare_mode.hpp"
#include "cli/history_command.hpp"
#include "machine/cpus.hpp"
#include "bench/memory_model.hpp"
#include "cli/options.hpp"
#include "cli/processes.hpp"
#include "cli/step_process.hpp"
#include "cli/sweep.hpp"

namespace {

// The message for whatever ended the run.
std::string describe_failure() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::ios_base::failure&) {
        return "cannot write to standard output (closed, full or a broken pipe)";
    } catch (const std::system_error& e) {
        return std::string("cannot start a thread or task: ") + e.what();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

} // namespace

int main(int argc, char** argv) {
    // A closed or broken standard output must end the run with an error, not pass silently (the
    // stream would just stop writing) or kill the process without a word (SIGPIPE).
    std::signal(SIGPIPE, SIG_IGN);
    std::cout.exceptions(std::ios::badbit | std::ios::failbit);
    try {
        const parse_outcome parsed = parse_options(argc, argv, std::cout, std::cerr);
        if (parsed.exit_code) {
            return *parsed.exit_code;
        }
        const options& opts = parsed.opts;
        if (opts.compare) {
            return run_compare(*opts.compare);
        }
        if (opts.check) {
            return run_check(*opts.check);
        }
        if (opts.history) {
            return run_history(*opts.history);
        }
        // A run that cannot fit in memory is refused now, not after minutes of allocating. A
        // sweep's largest step needs the most.
        unsigned cpus = usable_cpu_count();
        if (!opts.cpu_counts.empty()) {
            cpus = *std::max_element(opts.cpu_counts.begin(), opts.cpu_counts.end());
        }
        if (const auto refusal = memory_refusal(predict_peak(opts, cpus), memory_room_now())) {
            print_error(std::cerr, *refusal);
            return 2;
        }
        if (const std::optional<int> result_fd = inherited_step_result()) {
            if (!opts.cpu_counts.empty()) {
                print_error(std::cerr, "--cpus: a sweep step cannot start a sweep of its own");
                return 2;
            }
            return run_sweep_step(opts, *result_fd);
        }
        if (!opts.cpu_counts.empty()) {
            return run_sweep(opts, topology_cpu_order());
        }
        if (opts.processes > 1) {
            return run_processes(opts);
        }
        return run_classic(opts);
    } catch (...) {
        const std::string message = describe_failure();
        // std::cerr flushes std::cout first, and so does the exit: a failed output must not throw again.
        std::cout.exceptions(std::ios::goodbit);
        print_error(std::cerr, message);
    }
    return EXIT_FAILURE;
}
