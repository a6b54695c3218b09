// The machine's topology and caches as hwloc sees them, read in one pass.
#pragma once

#include <vector>

#include "machine/records.hpp"

// One logical CPU and where it sits; the numbers only need to group and order, not be OS indices.
struct cpu_slot {
    unsigned os_index = 0;
    unsigned package = 0;
    unsigned numa_node = 0;
    unsigned core = 0;   // distinct per physical core
    unsigned thread = 0; // 0 for a core's first hardware thread, 1 for its second, ...
};

struct machine_topology {
    bool known = false; // hwloc could read the machine
    unsigned packages = 0;
    unsigned numa_nodes = 0;
    unsigned cores = 0;
    unsigned hardware_threads = 0;
    std::vector<cache_level> caches; // the first CPU's, innermost first (data before instruction)
    std::vector<cpu_slot> slots;     // every logical CPU of the machine
};

machine_topology read_topology();
