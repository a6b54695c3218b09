#include "machine/cpus.hpp"

#include <hwloc.h>
#include <sched.h>

#include <algorithm>
#include <charconv>
#include <string_view>
#include <tuple>

namespace {

[[noreturn]] void refuse(const std::string& text, const std::string& what, unsigned usable) {
    throw cpu_list_error("'" + text + "': " + what + "; give counts from 1 to " + std::to_string(usable) +
                         " (the CPUs this process may use) as a list (1,2,4), a range (1-" + std::to_string(usable) +
                         ") or 'all'");
}

unsigned parse_count(std::string_view item, const std::string& text, unsigned usable) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (item.empty()) {
        refuse(text, "an empty item", usable);
    }
    if (ec != std::errc{} || end != item.data() + item.size() || item.find_first_not_of("0123456789") != item.npos) {
        if (ec == std::errc::result_out_of_range) {
            refuse(text, std::string(item) + " is more CPUs than this process may use", usable);
        }
        refuse(text, "'" + std::string(item) + "' is not a CPU count", usable);
    }
    if (value == 0) {
        refuse(text, "a step needs at least one CPU", usable);
    }
    if (value > usable) {
        refuse(text, std::to_string(value) + " is more CPUs than this process may use", usable);
    }
    return value;
}

} // namespace

std::vector<unsigned> allowed_cpus() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    std::vector<unsigned> cpus;
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        for (unsigned cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &mask)) {
                cpus.push_back(cpu);
            }
        }
    }
    return cpus;
}

unsigned usable_cpu_count() { return std::max<unsigned>(1, static_cast<unsigned>(allowed_cpus().size())); }

std::vector<unsigned> order_by_topology(std::vector<cpu_slot> slots) {
    // Hardware-thread rank first, so every core's first thread comes before any second thread;
    // within a rank, package and NUMA node keep the first cores close together.
    std::sort(slots.begin(), slots.end(), [](const cpu_slot& a, const cpu_slot& b) {
        return std::tie(a.thread, a.package, a.numa_node, a.core, a.os_index) <
               std::tie(b.thread, b.package, b.numa_node, b.core, b.os_index);
    });
    std::vector<unsigned> order;
    order.reserve(slots.size());
    for (const auto& slot : slots) {
        order.push_back(slot.os_index);
    }
    return order;
}

std::vector<unsigned> topology_cpu_order() {
    const std::vector<unsigned> allowed = allowed_cpus();
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return allowed;
    }
    std::vector<cpu_slot> slots;
    if (hwloc_topology_load(topology) == 0) {
        const int pus = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_PU);
        for (int k = 0; k < pus; ++k) {
            const hwloc_obj_t pu = hwloc_get_obj_by_type(topology, HWLOC_OBJ_PU, static_cast<unsigned>(k));
            if (std::find(allowed.begin(), allowed.end(), pu->os_index) == allowed.end()) {
                continue;
            }
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
    }
    hwloc_topology_destroy(topology);
    if (slots.size() != allowed.size()) {
        return allowed; // hwloc saw a different set: trust the affinity mask
    }
    return order_by_topology(std::move(slots));
}

std::vector<unsigned> parse_cpu_counts(const std::string& text, unsigned usable) {
    std::vector<unsigned> counts;
    if (text == "all") {
        for (unsigned n = 1; n < usable; n *= 2) {
            counts.push_back(n);
        }
        counts.push_back(usable);
        return counts;
    }
    std::string_view rest = text;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t dash = item.find('-');
        if (dash == std::string_view::npos) {
            counts.push_back(parse_count(item, text, usable));
        } else {
            const unsigned first = parse_count(item.substr(0, dash), text, usable);
            const unsigned last = parse_count(item.substr(dash + 1), text, usable);
            if (first > last) {
                refuse(text, "the range " + std::string(item) + " runs backwards", usable);
            }
            for (unsigned n = first; n <= last; ++n) {
                counts.push_back(n);
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    std::sort(counts.begin(), counts.end());
    const auto repeated = std::adjacent_find(counts.begin(), counts.end());
    if (repeated != counts.end()) {
        refuse(text, std::to_string(*repeated) + " is given twice", usable);
    }
    return counts;
}
