// Facts about the machine that tell how far its numbers can be trusted, read from the kernel's
// own files. Every reader takes the file's text or a root folder, so tests feed it fixtures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine/records.hpp"

// The three load averages of /proc/loadavg's text; empty when it does not parse.
std::vector<double> parse_loadavg(const std::string& text);
std::vector<double> load_average(const std::string& proc_root = "/proc");

// As Google Benchmark judges it: frequency scaling is on when any of the first `cpus` CPUs has a
// cpufreq governor other than "performance". A machine without cpufreq (most virtual ones)
// reports it off, as Google Benchmark does.
bool cpu_scaling_enabled(unsigned cpus, const std::string& sys_cpu_root = "/sys/devices/system/cpu");

// A file's first line, without its line end; nothing when it cannot be read.
std::optional<std::string> read_first_line(const std::string& path);

// What /proc/meminfo says, in bytes; zeros where a line is missing.
struct meminfo {
    std::uint64_t total = 0;
    std::uint64_t available = 0;
    std::uint64_t swap_total = 0;
    std::uint64_t swap_free = 0;
};
meminfo parse_meminfo(const std::string& text);
// Nothing when the file cannot be read.
std::optional<meminfo> read_meminfo(const std::string& proc_root = "/proc");

// What /proc/cpuinfo says of the first CPU, and whether a hypervisor runs the machine.
struct cpuinfo {
    std::string model = "unknown";
    unsigned mhz = 0; // 0 when unknown
    bool hypervisor = false;
};
cpuinfo parse_cpuinfo(const std::string& text);
cpuinfo read_cpuinfo(const std::string& proc_root = "/proc");

// The bracketed choice of a sysfs setting such as "always [madvise] never"; nothing without one.
std::optional<std::string> bracketed_choice(const std::string& text);

// The "procs_running" line of /proc/stat: threads runnable right now, this one included.
std::optional<unsigned> parse_procs_running(const std::string& text);

// The busy clock ticks of all CPUs together from /proc/stat's "cpu" line: user, nice, system,
// irq, softirq and steal (time the hypervisor gave to others counts: this machine could not run).
std::optional<std::uint64_t> parse_busy_ticks(const std::string& text);

// The command name and CPU ticks (user + system) of one /proc/PID/stat line.
struct process_ticks {
    std::string name;
    std::uint64_t ticks = 0;
};
std::optional<process_ticks> parse_pid_stat(const std::string& text);

// Everything the readiness check and every run record about the machine that the kernel's files
// tell, read from `proc_root` and `sys_root` (fixtures in tests); the topology stays empty.
environment_facts read_environment(const std::string& proc_root, const std::string& sys_root,
                                   bool sample_busiest = false);

// The same of this machine now, with its topology from hwloc.
environment_facts read_environment_now(bool sample_busiest = false);

// The processes that used the most CPU over the last second, busiest first: name and percent of
// one CPU. Takes a second.
std::vector<std::pair<std::string, double>> busiest_processes(const std::string& proc_root = "/proc",
                                                              std::size_t count = 3);
