// The protocol between this program and the processes it starts to measure (a sweep's steps, a
// run's processes): the arguments that make a process measure what the options ask, the record it
// writes to a descriptor it inherits, and that record read back once the process has ended well.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/progress.hpp"
#include "cli/options.hpp"
#include "cli/step_process.hpp"
#include "records/results.hpp"

// The arguments that make a process measure what `opts` asks for.
std::vector<std::string> child_arguments(const options& opts);

// A private folder for the processes' records, removed on every path.
struct scratch_folder {
    std::filesystem::path path;
    explicit scratch_folder(const std::string& prefix);
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
};

// A process on `cpus`, handed the file `record` for its record, which is read back once the
// process has ended well; `wall_ns` is how long it ran, as this process timed it.
struct measured_step : step_outcome {
    benchmark_results record;
    std::int64_t wall_ns = 0;
};
measured_step measure_in_child(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<unsigned>& cpus, const std::string& record, std::uint64_t runs,
                               progress_line& progress);

// The measuring process: measures like the classic run on the CPUs it was started on, prints one
// line per finished sort (the strategy's name) for its parent's progress display, and writes its
// record to `result_fd`, the descriptor its parent handed it.
int run_as_child(const options& opts, int result_fd);
