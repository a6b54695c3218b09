// One step of a sweep as a process of its own: started on its CPUs, followed through the lines it
// prints per sort, ended at once when the sweep is interrupted.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/progress.hpp"
#include "common/error.hpp"

// For its lifetime `handler` takes SIGINT, SIGTERM and SIGHUP; the previous handlers come back after.
class signal_handlers {
public:
    explicit signal_handlers(void (*handler)(int));
    ~signal_handlers();
    signal_handlers(const signal_handlers&) = delete;
    signal_handlers& operator=(const signal_handlers&) = delete;

private:
    struct sigaction previous_[3] {};
};

// Catches SIGINT, SIGTERM and SIGHUP for its lifetime: the handler only notes the signal on a pipe
// that the step's loop polls.
class signal_catcher {
public:
    signal_catcher();
    ~signal_catcher();
    signal_catcher(const signal_catcher&) = delete;
    signal_catcher& operator=(const signal_catcher&) = delete;

    // The first signal caught so far, or 0.
    static int caught();

private:
    std::optional<signal_handlers> handlers_; // installed once the pipe exists
};

struct step_outcome {
    bool ok = false;
    std::string failure;    // why it failed
    int interrupted_by = 0; // a signal the sweep caught while the step ran
    int exit_code = -1;     // the status it exited with; -1 when it did not exit by itself
    // The status a run of steps ends with when this one failed: 128 + n after signal n, else 1.
    int run_status() const { return interrupted_by != 0 ? status_after_signal(interrupted_by) : EXIT_FAILURE; }
};

// The environment variable that tells a step which inherited descriptor takes its result record.
inline constexpr char step_result_variable[] = "QSB_STEP_RESULT_FD";

// Runs `program` with `args` on `cpus`, handing it `result_fd` (a file in the sweep's private
// folder) for its record, drawing `progress` from the lines it prints (a step of `runs` sorts per
// strategy), until its process ends, a caught signal ends it, or it runs past `timeout_ns` (0: no
// limit). It runs in a process group of its own, which is ended on every path, so that nothing it
// started outlives it; its end is its process's, not its pipes' (a background child may hold them).
// With `result_fd` below 0 it is a plain run of any program: no descriptor handed over, its output
// read and dropped, `progress` only redrawn. `environment` ("NAME=value") is added to this
// process's own.
step_outcome run_step_process(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<unsigned>& cpus, int result_fd, std::uint64_t runs,
                              progress_line& progress, std::int64_t timeout_ns = 0,
                              const std::vector<std::string>& environment = {});

// In a step's process: the descriptor its sweep handed it for the record; nothing in any other
// process. Throws when the variable is set but names no regular file this process holds.
std::optional<int> inherited_step_result();
