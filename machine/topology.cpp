// hwloc's view of the machine: packages, cores, threads and caches, read once.
#include "machine/topology.hpp"

#include <hwloc.h>

#include <algorithm>
#include <tuple>

namespace {

unsigned count_of(hwloc_topology_t topology, hwloc_obj_type_t type) {
    return static_cast<unsigned>(std::max(0, hwloc_get_nbobjs_by_type(topology, type)));
}

std::vector<cache_level> first_cpu_caches(hwloc_topology_t topology) {
    std::vector<cache_level> caches;
    const hwloc_obj_t first = hwloc_get_obj_by_type(topology, HWLOC_OBJ_PU, 0);
    for (hwloc_obj_t obj = first != nullptr ? first->parent : nullptr; obj != nullptr; obj = obj->parent) {
        if (!hwloc_obj_type_is_cache(obj->type)) {
            continue;
        }
        const auto& cache = obj->attr->cache;
        const char* type = cache.type == HWLOC_OBJ_CACHE_INSTRUCTION ? "Instruction"
                           : cache.type == HWLOC_OBJ_CACHE_DATA      ? "Data"
                                                                     : "Unified";
        caches.push_back({type, static_cast<unsigned>(cache.depth), static_cast<std::uint64_t>(cache.size),
                          static_cast<unsigned>(std::max(1, hwloc_bitmap_weight(obj->cpuset)))});
    }
    std::sort(caches.begin(), caches.end(), [](const cache_level& a, const cache_level& b) {
        return std::tie(a.level, a.type) < std::tie(b.level, b.type);
    });
    return caches;
}

std::vector<cpu_slot> slots_of(hwloc_topology_t topology) {
    std::vector<cpu_slot> slots;
    const int pus = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_PU);
    for (int k = 0; k < pus; ++k) {
        const hwloc_obj_t pu = hwloc_get_obj_by_type(topology, HWLOC_OBJ_PU, static_cast<unsigned>(k));
        cpu_slot slot;
        slot.os_index = pu->os_index;
        const hwloc_obj_t core = hwloc_get_ancestor_obj_by_type(topology, HWLOC_OBJ_CORE, pu);
        const hwloc_obj_t package = hwloc_get_ancestor_obj_by_type(topology, HWLOC_OBJ_PACKAGE, pu);
        // A PU without a core object (some virtual machines) counts as a core of its own.
        slot.core = core != nullptr ? core->logical_index : 100000 + pu->logical_index;
        slot.package = package != nullptr ? package->logical_index : 0;
        if (core != nullptr) {
            for (hwloc_obj_t sibling = pu->prev_sibling; sibling != nullptr; sibling = sibling->prev_sibling) {
                ++slot.thread;
            }
        }
        // The first NUMA node local to the PU; hwloc 2 keeps memory out of the ancestor chain.
        const int node = pu->nodeset != nullptr ? hwloc_bitmap_first(pu->nodeset) : -1;
        slot.numa_node = node > 0 ? static_cast<unsigned>(node) : 0;
        slots.push_back(slot);
    }
    return slots;
}

} // namespace

machine_topology read_topology() {
    machine_topology t;
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return t;
    }
    // hwloc leaves instruction caches out unless asked.
    hwloc_topology_set_icache_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_ALL);
    if (hwloc_topology_load(topology) == 0) {
        t.known = true;
        t.packages = count_of(topology, HWLOC_OBJ_PACKAGE);
        t.numa_nodes = count_of(topology, HWLOC_OBJ_NUMANODE);
        t.cores = count_of(topology, HWLOC_OBJ_CORE);
        t.hardware_threads = count_of(topology, HWLOC_OBJ_PU);
        t.caches = first_cpu_caches(topology);
        t.slots = slots_of(topology);
    }
    hwloc_topology_destroy(topology);
    return t;
}
