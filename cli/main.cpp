// Dispatches to the mode the command line asks for; each mode lives in a module of its own.
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <system_error>

#include "bench/memory_model.hpp"
#include "cli/ab_mode.hpp"
#include "cli/check_mode.hpp"
#include "cli/classic_run.hpp"
#include "cli/compare_mode.hpp"
#include "cli/history_mode.hpp"
#include "cli/options.hpp"
#include "common/error.hpp"
#include "common/format.hpp"

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
        std::string message = std::string("cannot start a thread or task: ") + e.what();
        // Every thread reserves its stack in the address space, beyond what the memory model counts.
        if (const auto limit = memory_room_now().address_space_bytes) {
            message += " (the address space is limited to " + format_bytes(*limit) +
                       " by ulimit -v, and every thread reserves its stack in it: raise the limit)";
        }
        return message;
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
        if (opts.ab) {
            return run_ab(*opts.ab);
        }
        if (opts.check) {
            return run_check(*opts.check);
        }
        if (opts.history) {
            return run_history(*opts.history);
        }
        return run_benchmark(opts);
    } catch (...) {
        const std::string message = describe_failure();
        // std::cerr flushes std::cout first, and so does the exit: a failed output must not throw again.
        std::cout.exceptions(std::ios::goodbit);
        print_error(std::cerr, message);
    }
    return EXIT_FAILURE;
}
