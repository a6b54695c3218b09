// The protocol between this program and the processes it starts to measure: arguments out, the
// record back through an inherited descriptor.
#include "cli/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "analysis/stats.hpp"
#include "bench/measure.hpp"
#include "cli/run_settings_table.hpp"
#include "common/clock.hpp"
#include "common/error.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "machine/cpus.hpp"
#include "records/json_reader.hpp"
#include "records/record_fields.hpp"
#include "records/record_json.hpp"
#include "records/strategy.hpp"

std::vector<std::string> child_arguments(const options& opts) {
    std::vector<std::string> args;
    for (std::size_t k = 0; k < setting_options.size(); ++k) {
        if (setting_options[k].words != nullptr) {
            append_setting(args, static_cast<setting>(k), opts);
        }
    }
    return args;
}

namespace {

// Scratch folders a run of processes or a sweep killed outright (kill -9) could not remove: those
// of this program and this user whose process is gone.
void remove_abandoned(const std::filesystem::path& temp) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(temp, error)) {
        const std::string name = entry.path().filename().string();
        int pid = 0;
        char kind[16] = {};
        if (std::sscanf(name.c_str(), "quicksort_bench-%15[a-z]-%d-", kind, &pid) != 2 || pid <= 0 ||
            (std::string(kind) != "processes" && std::string(kind) != "sweep" && std::string(kind) != "ab")) {
            continue;
        }
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
            continue;
        }
        if (::kill(pid, 0) != 0 && errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), error);
        }
    }
}

} // namespace

scratch_folder::scratch_folder(const std::string& prefix) {
    // The folder TMPDIR names, or /tmp: a failure names it, as it is the user's to mend.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string named = tmpdir != nullptr && *tmpdir != '\0' ? "TMPDIR=" + std::string(tmpdir) : "/tmp";
    std::filesystem::path temp;
    std::error_code error;
    temp = std::filesystem::temp_directory_path(error);
    if (error) {
        throw std::runtime_error("cannot use the folder for temporary files (" + named + "): " + error.message());
    }
    remove_abandoned(temp);
    std::string pattern = (temp / (prefix + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for the processes' records in " + named + ": " +
                                 std::strerror(errno));
    }
    path = pattern;
}

scratch_folder::~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

record_file::record_file(std::string path)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a file for a child's record");
    }
}

record_file::~record_file() { ::close(fd_); }

namespace {

// A process on `cpus`, handed the file `record` for its record, which is read back once the
// process has ended well.
measured_step measure_in_child(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<unsigned>& cpus, const std::string& record, std::uint64_t runs,
                               progress_line& progress) {
    measured_step step;
    const std::int64_t start = now_ns();
    {
        const record_file file(record);
        static_cast<step_outcome&>(step) = run_step_process(program, args, cpus, file.fd(), runs, progress);
    }
    step.wall_ns = now_ns() - start;
    if (step.ok) {
        try {
            step.record = std::move(read_export_file(record).sweep.steps.at(0).results);
        } catch (const export_error& e) {
            step.ok = false;
            step.failure = std::string("its result could not be read: ") + e.what();
        }
    }
    return step;
}

} // namespace

campaign::campaign(const std::string& kind)
    : scratch_("quicksort_bench-" + kind),
      terminal_(::isatty(STDERR_FILENO) == 1),
      progress_(terminal_ ? &std::cerr : nullptr) {}

measured_step campaign::measure(const std::string& prefix, const std::string& program,
                                const std::vector<std::string>& args, const std::vector<unsigned>& cpus,
                                const std::string& record, std::uint64_t runs) {
    progress_.phase("", 0);
    progress_.set_prefix(prefix);
    measured_step outcome = measure_in_child(program, args, cpus, file(record), runs, progress_);
    progress_.erase();
    return outcome;
}

int campaign::failed(const std::string& why, const step_outcome& outcome) {
    print_error(std::cerr, why);
    return outcome.run_status();
}

int run_as_child(const options& opts, int result_fd) {
    discard_stream quiet; // a step's phases print their progress lines nowhere
    const std::vector<unsigned> cpus = allowed_cpus();
    const sort_listener tell_parent = [](std::string_view strategy) {
        const std::string line = std::string(strategy) + "\n";
        [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, line.data(), line.size());
    };
    benchmark_results results = measure(opts, console{quiet, false}, tell_parent, static_cast<unsigned>(cpus.size()));
    // What this process itself sees, so that a reader can check the step ran where it claims.
    results.context.cpus = cpus;
    results.context.tbb_threads = parallel_loop_threads();
    write_to_descriptor(result_fd, json_fields::json_text(run_json(results), 2) + "\n");
    return EXIT_SUCCESS;
}

std::string unit_greeting(std::uint64_t runs) {
    return std::string("units ") + unit_protocol_version + " runs " + std::to_string(runs);
}

std::optional<std::uint64_t> read_unit_greeting(const std::string& line) {
    unsigned long long runs = 0;
    char version[8] = {};
    if (std::sscanf(line.c_str(), "units %7s runs %llu", version, &runs) != 2 ||
        std::string(version) != unit_protocol_version || runs == 0) {
        return std::nullopt;
    }
    return runs;
}

std::optional<unit_reply> read_unit_reply(const std::string& line) {
    if (line.rfind("sorted ", 0) != 0) {
        return std::nullopt;
    }
    duration_list durations;
    unit_reply reply;
    std::istringstream words(line.substr(7));
    for (std::string word; words >> word;) {
        long long ns = 0;
        unsigned long long array = 0;
        char rest = 0;
        if (std::sscanf(word.c_str(), "%lld@%llu%c", &ns, &array, &rest) != 2 || ns <= 0) {
            return std::nullopt;
        }
        reply.smallest_array = durations.empty() ? array : std::min<std::uint64_t>(reply.smallest_array, array);
        durations.push_back(ns);
    }
    if (durations.empty()) {
        return std::nullopt;
    }
    reply.median_ns = median_of(durations);
    return reply;
}

int run_as_worker(const options& opts, int result_fd, const std::string& version) {
    if (version != unit_protocol_version) {
        print_error(std::cerr, std::string(step_units_variable) + ": version " + printable(version) +
                                   " of the unit protocol asked for; this program speaks version " +
                                   unit_protocol_version);
        return 2;
    }
    const std::vector<unsigned> cpus = allowed_cpus();
    unit_runner runner(opts, static_cast<unsigned>(cpus.size()));
    std::cout << unit_greeting(opts.sizes.run_count) << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        const strategy_info* measured = line.rfind("unit ", 0) == 0 ? info_named(line.substr(5)) : nullptr;
        if (measured == nullptr) {
            print_error(std::cerr, "not a request of the unit protocol: " + printable(line));
            return 2;
        }
        std::string answer = "sorted";
        try {
            for (const unit_runner::sort_time& sort : runner.run(measured->id)) {
                answer += " " + std::to_string(sort.ns) + "@" + std::to_string(sort.array);
            }
        } catch (const std::invalid_argument& e) { // a strategy this run does not measure
            print_error(std::cerr, e.what());
            return 2;
        }
        std::cout << answer << std::endl;
    }
    benchmark_results results = runner.record();
    results.context.cpus = cpus;
    results.context.tbb_threads = parallel_loop_threads();
    write_to_descriptor(result_fd, json_fields::json_text(run_json(results), 2) + "\n");
    return EXIT_SUCCESS;
}
