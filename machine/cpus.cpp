// The CPUs this process may use, a sweep's order of them, and --cpus lists.
#include "machine/cpus.hpp"

#include "common/count.hpp"

#include <sched.h>

#include <algorithm>
#include <string_view>
#include <tuple>

namespace {

[[noreturn]] void refuse(const std::string& text, const std::string& what, unsigned usable) {
    throw cpu_list_error("'" + text + "': " + what + "; give counts from 1 to " + std::to_string(usable) +
                         " (the CPUs this process may use) as a list (1,2,4), a range (1-" + std::to_string(usable) +
                         ") or 'all'");
}

unsigned parse_count(std::string_view item, const std::string& text, unsigned usable) {
    if (item.empty()) {
        refuse(text, "an empty item", usable);
    }
    unsigned value = 0;
    switch (parse_digits(item, value)) {
    case count_error::too_large: refuse(text, std::string(item) + " is more CPUs than this process may use", usable);
    case count_error::not_a_number: refuse(text, "'" + std::string(item) + "' is not a CPU count", usable);
    case count_error::none: break;
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
    std::vector<cpu_slot> slots;
    for (const cpu_slot& slot : read_topology().slots) {
        if (std::find(allowed.begin(), allowed.end(), slot.os_index) != allowed.end()) {
            slots.push_back(slot);
        }
    }
    if (slots.size() != allowed.size()) {
        return allowed; // hwloc saw a different set (or none): trust the affinity mask
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
