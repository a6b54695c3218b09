// Runs the built benchmark binary as a child process and captures what it leaves behind.
#pragma once

#include <string>
#include <vector>

struct process_result {
    int exit_code = -1;   // exit status, or -1 when the child ended by a signal
    int signal = 0;       // the signal that ended the child, if any
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

// Runs `program` with `args`, standard input from /dev/null unless `stdin_path` names a file.
process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stdin_path = "/dev/null");

// Runs `program` with standard output on a pipe; once that output contains `marker`, sends it
// `signal_to_send`. Gives up after `timeout_ms`, killing the child.
process_result run_until_output(const std::string& program, const std::vector<std::string>& args,
                                const std::string& marker, int signal_to_send, int timeout_ms);

// The benchmark binary this test suite was built with.
std::string bench_binary();

// Runs `program` on a pseudo-terminal (standard input, output and error), waits until its output
// contains `prompt`, then either types one key or sends `signal_to_send` to it. Gives up after
// `timeout_ms`, killing the child. `terminal_restored` says whether the terminal's mode at the end
// equals its mode at the start.
struct terminal_result {
    process_result process;
    bool saw_prompt = false;
    bool terminal_restored = false;
};
terminal_result run_in_terminal(const std::string& program, const std::vector<std::string>& args,
                                const std::string& prompt, int signal_to_send, int timeout_ms);
