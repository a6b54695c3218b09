// What the machine is and did, as the kernel tells it: the records the machine readers fill and
// every reporter shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/duration.hpp"

// One cache as the first CPU sees it, in Google Benchmark's terms.
struct cache_level {
    std::string type; // "Data", "Instruction" or "Unified"
    unsigned level = 0;
    std::uint64_t size = 0; // bytes
    unsigned num_sharing = 0; // logical CPUs that share it
};

// Whether this process can open one of the kernel's performance counters, and why not.
struct counter_availability {
    std::string name;   // "task-clock", "cycles", ...
    bool hardware = false;
    bool available = false;
    std::string reason; // when not available: the kernel's answer
};

// What the machine was like: the facts the readiness check judges, taken before and after a run.
struct environment_facts {
    std::optional<std::string> governor;      // cpufreq of the first CPU; absent: not exposed
    std::optional<std::uint64_t> scaling_min_khz;
    std::optional<std::uint64_t> scaling_max_khz;
    std::optional<bool> boost;                // turbo or boost on
    unsigned packages = 0;
    unsigned numa_nodes = 0;
    unsigned cores = 0;
    unsigned hardware_threads = 0;
    std::vector<double> load_avg;             // 1, 5 and 15 minutes
    std::optional<unsigned> runnable;         // threads runnable when read, the reader included
    std::optional<std::uint64_t> busy_ticks;  // all CPUs' busy time since boot (/proc/stat), clock ticks
    std::int64_t own_cpu_ns = 0;              // this process's CPU time when read
    std::int64_t read_at_ns = 0;              // the steady clock when read
    std::vector<std::pair<std::string, double>> busiest; // the check only: name, % of a CPU over a second
    std::optional<std::uint64_t> mem_available_bytes;
    std::optional<std::uint64_t> swap_total_bytes;
    std::optional<std::uint64_t> swap_free_bytes;
    std::optional<std::string> transparent_hugepages;
    std::optional<int> aslr;                  // /proc/sys/kernel/randomize_va_space
    std::optional<int> perf_event_paranoid;
    std::vector<counter_availability> counters;
    std::optional<std::uint64_t> throttle_count; // thermal throttle events of all CPUs; absent: no counters
    bool virtual_machine = false;
};

// One verdict of the readiness check.
struct check_line {
    bool ok = true;
    std::string topic;  // "CPU frequency", "Load", ...
    std::string text;   // what was found
    std::string advice; // a warn's remedy
};

// One phase's share of the machine, from getrusage and the kernel's counters read at its ends.
struct counter_value {
    std::string name;
    std::optional<double> value; // absent: not available
    std::string reason;          // why not
};
struct phase_resources {
    std::string phase;
    duration_ns wall_ns = 0;
    duration_ns user_ns = 0;
    duration_ns system_ns = 0;
    double parallelism = 0;      // (user + system) / wall
    unsigned cpus = 0;           // the CPUs the phase could use
    std::int64_t voluntary_switches = 0;
    std::int64_t involuntary_switches = 0;
    std::int64_t minor_faults = 0;
    std::int64_t major_faults = 0;
    std::vector<counter_value> counters; // task-clock, context-switches, cpu-migrations, page-faults, cycles, ...
};

