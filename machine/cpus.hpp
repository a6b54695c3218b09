// Which logical CPUs this process may use, the order a sweep adds them in, and --cpus lists.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "machine/topology.hpp"

// The OS indices of the CPUs in this process's affinity mask, ascending.
std::vector<unsigned> allowed_cpus();

// How many CPUs this process may use (at least 1). Unlike std::thread::hardware_concurrency it
// honours the affinity mask, so a run under taskset sizes its pool to the CPUs it really has.
unsigned usable_cpu_count();

// The order a performance engineer adds CPUs in: one hardware thread of every physical core
// first (the cores of the first package and NUMA node before the next), then the cores' second
// threads, and so on. Returns OS indices.
std::vector<unsigned> order_by_topology(std::vector<cpu_slot> slots);

// order_by_topology over the allowed CPUs as hwloc sees them; falls back to allowed_cpus() when
// the topology cannot be read.
std::vector<unsigned> topology_cpu_order();

// A --cpus value that cannot be honoured; the message names what is allowed.
class cpu_list_error : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Parses "1,2,4", "1-8" (every count in the range), mixes of both, or "all" (1, 2, 4, ... and
// `usable` itself) into ascending CPU counts between 1 and `usable`. Throws cpu_list_error for
// an empty item, 0, a count above `usable`, a reversed range, text or a repeated count.
std::vector<unsigned> parse_cpu_counts(const std::string& text, unsigned usable = usable_cpu_count());
