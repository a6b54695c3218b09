// A worker of a paired comparison: a step that answers each request line with one line, in a
// process group of its own that is ended on every path.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/step_process.hpp"

// A worker of a paired comparison: a step started as `run_step_process` starts one, in a process
// group of its own, with `result_fd` for its record and a pipe to its standard input, that answers
// each request line with one line (see docs/unit-protocol.md). Once done with, or destroyed, its
// group is ended and the process waited for, on every path.
class unit_worker {
public:
    unit_worker(const std::string& program, const std::vector<std::string>& args, const std::vector<unsigned>& cpus,
                int result_fd, const std::vector<std::string>& environment);
    ~unit_worker();
    unit_worker(const unit_worker&) = delete;
    unit_worker& operator=(const unit_worker&) = delete;

    // The next line it says, waiting at most `timeout_ns` (0: no limit); nothing when it ended, a
    // signal was caught or the time ran out first: `outcome()` then says why.
    std::optional<std::string> answer(std::int64_t timeout_ns);
    // Sends `request` as a line and waits for the answer as `answer` does.
    std::optional<std::string> ask(const std::string& request, std::int64_t timeout_ns);
    // Ends its input, waits for it to end (its record is then written) and says how it ended.
    const step_outcome& finish(std::int64_t timeout_ns);
    const step_outcome& outcome() const { return outcome_; }

private:
    void end(bool timed_out, std::int64_t timeout_ns);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int in_ = -1;
    int exited_fd_ = -1;
    std::string lines_;
    std::string errors_;
    bool out_open_ = true;
    bool err_open_ = true;
    bool exited_ = false;
    bool ended_ = false;
    bool finishing_ = false;
    int status_ = 0;
    step_outcome outcome_;
};
