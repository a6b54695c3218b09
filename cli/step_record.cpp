#include "cli/step_record.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "common/clock.hpp"
#include "report/json_reader.hpp"

scratch_folder::scratch_folder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a folder for the processes' records");
    }
    path = pattern;
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

measured_step measure_step(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<unsigned>& cpus, const std::string& record, std::uint64_t runs,
                           progress_line& progress) {
    const int record_fd = ::open(record.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (record_fd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a file for a process's record");
    }
    measured_step step;
    const std::int64_t start = now_ns();
    try {
        static_cast<step_outcome&>(step) = run_step_process(program, args, cpus, record_fd, runs, progress);
    } catch (...) {
        ::close(record_fd);
        throw;
    }
    step.wall_ns = now_ns() - start;
    ::close(record_fd);
    if (step.ok) {
        try {
            step.record = read_export_file(record).sweep.steps.at(0).results;
        } catch (const export_error& e) {
            step.ok = false;
            step.failure = std::string("its result could not be read: ") + e.what();
        }
    }
    return step;
}
