// Runs a program (usually the built benchmark) as a child process and captures what it leaves.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "records/results.hpp"

// Standard input is /dev/null unless `terminal` puts all three streams on one pseudo-terminal
// (read into `out`). Once the output holds `marker`, the child gets `signal`, or one typed key when
// it is 0. After two minutes the child is killed.
struct run_options {
    bool terminal = false;
    std::string marker = {};
    int signal = 0;
    std::string stdout_file = {}; // on a terminal: standard output goes to this file instead
    bool background = false; // on a terminal: the child runs in a process group of its own, as `cmd &`
    std::function<void()> at_marker = {}; // instead of the signal or the key: what the test does then
};

struct process_result {
    int exit_code = -1; // exit status, or -1 when the child ended by a signal
    int signal = 0;     // the signal that ended the child, if any
    std::string out;
    std::string err;
    bool saw_marker = false;
    bool terminal_restored = false; // on a terminal: its mode at the end equals its mode at the start
};

process_result run_process(const std::string& program, const std::vector<std::string>& args,
                           const run_options& options = {});

// Whether a text holds a part: the assertions most tests make of the program's output.
#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos)
#define EXPECT_LACKS(text, part) EXPECT_EQ((text).find(part), std::string::npos)

// The benchmark binary this test suite was built with.
std::string bench_binary();

// `args` followed by `more`.
std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more);

// A folder of the running test's own under the temporary directory, removed with it.
struct scratch_dir {
    std::filesystem::path path;
    scratch_dir();
    ~scratch_dir();
    std::string file(const std::string& name) const { return (path / name).string(); }
};

std::string read_text(const std::filesystem::path& file);
void write_text(const std::filesystem::path& file, const std::string& text);

// One result record (the JSON of a single run) read back. Throws export_error.
benchmark_results parse_result_record(const std::string& text);

// Fixed records of a run with two reference sorts and a memory floor: hostile text in the host, the
// CPU model and a name, a noisy parallel_for sort and a zero median.
benchmark_results sample_results();
