// The protocol between this program and the processes it starts to measure (a sweep's steps, a
// run's processes): the arguments that make a process measure what the options ask, the record it
// writes to a descriptor it inherits, and that record read back once the process has ended well.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/progress.hpp"
#include "cli/options.hpp"
#include "cli/step_process.hpp"
#include "records/results.hpp"

// The environment variable that asks a step to answer units (the version of the unit protocol its
// parent speaks) rather than run every phase once.
inline constexpr char step_units_variable[] = "QSB_STEP_UNITS";
inline constexpr char unit_protocol_version[] = "1";

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

// A measuring process's outcome: its record, read back once it ended well, and `wall_ns`, how long
// it ran as this process timed it.
struct measured_step : step_outcome {
    benchmark_results record;
    std::int64_t wall_ns = 0;
};

// A file of the scratch folder opened for a child to write its record to through the descriptor it
// inherits, closed when this goes. Throws std::system_error when it cannot be created.
class record_file {
public:
    explicit record_file(std::string path);
    ~record_file();
    record_file(const record_file&) = delete;
    record_file& operator=(const record_file&) = delete;
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

private:
    std::string path_;
    int fd_;
};

// What every run of child processes shares (a run of processes, a sweep, ab's rounds): a private
// folder for their records, the signals caught for its lifetime (a caught one ends the running
// child at once, and the run with 128 + the signal), and a progress line while stderr is a
// terminal. A child's failure is said and turned into the run's status in one place.
class campaign {
public:
    explicit campaign(const std::string& kind); // "processes", "sweep", "ab": the scratch folder's name
    std::string file(const std::string& name) const { return (scratch_.path / name).string(); }
    progress_line& progress() { return progress_; }
    bool terminal() const { return terminal_; }

    // One measuring process under `prefix` on the progress line, its record in the file `record`
    // of the scratch folder.
    measured_step measure(const std::string& prefix, const std::string& program, const std::vector<std::string>& args,
                          const std::vector<unsigned>& cpus, const std::string& record, std::uint64_t runs);

    // Says `why` the run ends on stderr; the status to end with after the child `outcome`.
    static int failed(const std::string& why, const step_outcome& outcome);

private:
    scratch_folder scratch_;
    signal_catcher signals_;
    bool terminal_;
    progress_line progress_;
};

// The measuring process: measures like the classic run on the CPUs it was started on, prints one
// line per finished sort (the strategy's name) for its parent's progress display, and writes its
// record to `result_fd`, the descriptor its parent handed it.
int run_as_child(const options& opts, int result_fd);

// The unit protocol's lines (docs/unit-protocol.md), written and read here alone.
// The worker's greeting: "units 1 runs N".
std::string unit_greeting(std::uint64_t runs);
// The sorts per strategy a greeting names, when it is one of this protocol's version.
std::optional<std::uint64_t> read_unit_greeting(const std::string& line);
// A unit's answer, "sorted <ns>@<array> ...": the median of its sorts and the smallest identity of
// its arrays, which names the unit whatever order its sorts finished in.
struct unit_reply {
    std::int64_t median_ns = 0;
    std::uint64_t smallest_array = 0;
};
std::optional<unit_reply> read_unit_reply(const std::string& line);

// A worker of a paired comparison (`version` names the unit protocol its parent speaks): says
// "units 1 runs N", then answers each "unit <strategy>" on its standard input with one unit's
// "sorted <ns>@<array> ..." and, at the end of its input, writes the record of every unit it ran to
// `result_fd`. The protocol is described in docs/unit-protocol.md.
int run_as_worker(const options& opts, int result_fd, const std::string& version);
