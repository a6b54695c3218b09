// A measuring process's record: the private folder it is written to and the process that writes
// it, read back once the process has ended well. Sweep steps and a run's processes alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/progress.hpp"
#include "cli/step_process.hpp"
#include "report/results.hpp"

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
measured_step measure_step(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<unsigned>& cpus, const std::string& record, std::uint64_t runs,
                           progress_line& progress);
