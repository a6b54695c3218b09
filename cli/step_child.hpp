// What a step's run and a worker share: the start of the process, one wait on its pipes, a caught
// signal and its end, and the judging of that end. Only the two of them include this.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/step_process.hpp"

struct step_child {
    pid_t pid = -1;
    int out = -1; // the step's standard output
    int err = -1; // its standard error
    int in = -1;  // with `with_input`, its standard input; else it reads /dev/null
};

// Starts `program` on `cpus`, in a process group of its own, with its standard output and error on
// pipes, `result_fd` (when not below 0) handed over for its record and `environment` added to
// this process's own. Throws std::system_error when it cannot be started.
step_child spawn_step(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<unsigned>& cpus, int result_fd, const std::vector<std::string>& environment,
                      bool with_input = false);

// A descriptor that becomes readable when `pid` ends, or -1 where the kernel has none (then a
// wait lasts at most 100 ms).
int exit_descriptor(pid_t pid);

// Waits once for the child's output, its error output, a caught signal or its end, and takes what
// its open pipes hold. False when a signal was caught (in `interrupted`) or the wait failed.
bool wait_once(int out, bool& out_open, std::string& out_text, int err, bool& err_open, std::string& err_text,
               int exited_fd, int& interrupted);

// Ends the child's whole process group, what it left running included, and reaps the child unless
// `exited` says it has been reaped (its status then in `status`).
void end_group(pid_t pid, bool exited, int& status);

// Takes what the pipe `fd` holds, while `open`, until its end or until nothing more is there; keeps
// the last 64 KiB.
void read_rest(int fd, bool open, std::string& into);

// How the child's process ended, said in `outcome`: interrupted, past its time, killed, failed with
// its own error line, or well.
void judge_end(step_outcome& outcome, bool exited, int status, bool timed_out, std::int64_t timeout_ns,
               const std::string& err);
