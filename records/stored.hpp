// The records of a history of runs, as its readers return them and its reporters show them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A stored run as a list shows it.
struct stored_run {
    std::int64_t id = 0;
    std::string run_time;       // the run's own date and time, ISO 8601 with offset
    std::int64_t run_epoch = 0; // the same in seconds since 1970, UTC
    std::string label;
    std::string machine_id;
    std::string machine_name;
    std::string cpu_model;
    std::string kind; // "run" or "sweep"
    std::uint64_t array_size = 0;
    std::int64_t chunk_size = 0;
    std::uint64_t runs = 0;      // sorts per strategy, all processes together
    std::uint64_t processes = 1;
    std::string values;
    unsigned cpus = 0;           // the machine's logical CPUs, or a sweep's largest step
    // Facts of the run rather than of its machine: an upgrade of one is a change a trend can show.
    std::string compiler;
    std::string kernel;
    std::string tbb_version;
    std::string program_version;
    std::string source_revision;
};

// A machine of the history: its hardware, what its newest run ran with, and its runs.
struct stored_machine {
    std::string id;
    std::string name;
    std::string host_name;
    std::string cpu_model;
    unsigned logical_cpus = 0;
    std::uint64_t memory_bytes = 0;
    std::string kernel;   // of its newest run
    std::string compiler; // of its newest run
    std::size_t runs = 0;
    std::string first_run; // date and time
    std::string last_run;
};

// One strategy's figure of a stored run (of each step, for a sweep): the median (over processes
// when the run had several) with its interval.
struct stored_median {
    std::int64_t run_id = 0;
    unsigned cpus = 0; // the step's CPUs; 0 for a run that is not a sweep
    std::string strategy;
    std::int64_t median_ns = 0;
    std::optional<std::int64_t> low_ns;
    std::optional<std::int64_t> high_ns;
    std::uint64_t count = 0; // sorts, or processes when the median is over processes
};
