// Facts about the machine that tell how far its numbers can be trusted, read from the kernel's
// own files. Every reader takes the file's text or a root folder, so tests feed it fixtures.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/results.hpp"

// The three load averages of /proc/loadavg's text; empty when it does not parse.
std::vector<double> parse_loadavg(const std::string& text);
std::vector<double> load_average(const std::string& proc_root = "/proc");

// As Google Benchmark judges it: frequency scaling is on when any of the first `cpus` CPUs has a
// cpufreq governor other than "performance". A machine without cpufreq (most virtual ones)
// reports it off, as Google Benchmark does.
bool cpu_scaling_enabled(unsigned cpus, const std::string& sys_cpu_root = "/sys/devices/system/cpu");

// The caches the first CPU sees, innermost first (data before instruction), from hwloc.
std::vector<cache_level> cpu_caches();

// A file's first line, without its line end; nothing when it cannot be read.
std::optional<std::string> read_first_line(const std::string& path);
