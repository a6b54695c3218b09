#include "bench/machine.hpp"

#include <hwloc.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <tuple>

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return line;
}

std::vector<double> parse_loadavg(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> loads(3);
    if (!(in >> loads[0] >> loads[1] >> loads[2])) {
        return {};
    }
    return loads;
}

std::vector<double> load_average(const std::string& proc_root) {
    return parse_loadavg(read_first_line(proc_root + "/loadavg").value_or(""));
}

bool cpu_scaling_enabled(unsigned cpus, const std::string& sys_cpu_root) {
    for (unsigned cpu = 0; cpu < cpus; ++cpu) {
        const auto governor =
            read_first_line(sys_cpu_root + "/cpu" + std::to_string(cpu) + "/cpufreq/scaling_governor");
        if (governor && *governor != "performance") {
            return true;
        }
    }
    return false;
}

std::vector<cache_level> cpu_caches() {
    std::vector<cache_level> caches;
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return caches;
    }
    // hwloc leaves instruction caches out unless asked.
    hwloc_topology_set_icache_types_filter(topology, HWLOC_TYPE_FILTER_KEEP_ALL);
    if (hwloc_topology_load(topology) == 0) {
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
    }
    hwloc_topology_destroy(topology);
    std::sort(caches.begin(), caches.end(), [](const cache_level& a, const cache_level& b) {
        return std::tie(a.level, a.type) < std::tie(b.level, b.type);
    });
    return caches;
}
