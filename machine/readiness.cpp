// Each machine fact judged ok or warn, and what changed during a run.
#include "machine/readiness.hpp"

#include <algorithm>
#include <unistd.h>

#include <cstdio>

#include "common/format.hpp"

namespace {

check_line load_line(const environment_facts& f) {
    std::string text = f.load_avg.size() == 3 ? "load average " + fixed(f.load_avg[0], 2) + ", " +
                                                    fixed(f.load_avg[1], 2) + ", " + fixed(f.load_avg[2], 2)
                                              : std::string("load average not exposed");
    if (f.runnable) {
        text += "; " + count_text(*f.runnable, "thread", "threads") + " runnable now (this check's included)";
    }
    bool busy = !f.load_avg.empty() && f.hardware_threads > 0 && f.load_avg[0] > 0.5 * f.hardware_threads;
    std::string hogs;
    for (const auto& [name, percent] : f.busiest) {
        if (percent >= 1) {
            hogs += (hogs.empty() ? "" : ", ") + name + " " + fixed(percent, 0) + "%";
        }
        busy = busy || percent >= 10;
    }
    if (!hogs.empty()) {
        text += "; busiest over the last second: " + hogs;
    }
    return {!busy, "Load", text, busy ? "close other programs or wait until the machine is idle" : ""};
}

check_line memory_line(const environment_facts& f, std::uint64_t peak_bytes) {
    std::string text;
    bool enough = true;
    if (f.mem_available_bytes) {
        text = format_bytes(*f.mem_available_bytes) + " available, swap " +
               format_bytes(f.swap_total_bytes.value_or(0) - f.swap_free_bytes.value_or(0)) + " used of " +
               format_bytes(f.swap_total_bytes.value_or(0));
        enough = *f.mem_available_bytes >= peak_bytes;
    } else {
        text = "available memory not exposed";
    }
    text += "; transparent huge pages " + f.transparent_hugepages.value_or("not exposed") +
            "; a default run needs about " + format_bytes(peak_bytes) + " at its peak";
    return {enough, "Memory", text,
                     enough ? "" : "close programs, or run smaller arrays or fewer runs (--size, --runs)"};
}

check_line counters_line(const environment_facts& f) {
    std::string open;
    std::string closed;
    bool software = false;
    for (const auto& c : f.counters) {
        (c.available ? open : closed) += ((c.available ? open : closed).empty() ? "" : ", ") + c.name;
        software = software || (c.available && !c.hardware);
    }
    std::string text = "address-space randomization " +
                       (f.aslr ? (*f.aslr == 0 ? std::string("off") : "on (" + std::to_string(*f.aslr) + ")")
                               : std::string("not exposed")) +
                       "; perf_event_paranoid " +
                       (f.perf_event_paranoid ? std::to_string(*f.perf_event_paranoid) : "not exposed") +
                       "; counters open: " + (open.empty() ? "none" : open);
    if (!closed.empty()) {
        text += "; not available: " + closed;
    }
    return {software, "Counters", text,
                     software ? "" : "allow this user the software counters: sudo sysctl kernel.perf_event_paranoid=2"};
}

} // namespace

std::vector<check_line> judge_environment(const environment_facts& f, std::uint64_t peak_bytes) {
    std::vector<check_line> lines;
    // CPU frequency.
    if (!f.governor) {
        lines.push_back({true, "CPU frequency", "not exposed: no cpufreq here (a virtual machine, most likely)", ""});
    } else {
        std::string text = "governor " + *f.governor;
        if (f.scaling_min_khz && f.scaling_max_khz) {
            text += ", scaling " + fixed(static_cast<double>(*f.scaling_min_khz) / 1e6, 2) + " to " +
                    fixed(static_cast<double>(*f.scaling_max_khz) / 1e6, 2) + " GHz";
        }
        if (f.boost) {
            text += *f.boost ? ", boost on" : ", boost off";
        }
        if (*f.governor != "performance") {
            lines.push_back({false, "CPU frequency", text,
                             "set the performance governor: sudo cpupower frequency-set -g performance"});
        } else if (f.boost.value_or(false)) {
            lines.push_back({false, "CPU frequency", text,
                             "turn boost off for repeatable times: echo 0 | sudo tee "
                             "/sys/devices/system/cpu/cpufreq/boost (Intel: 1 into intel_pstate/no_turbo)"});
        } else {
            lines.push_back({true, "CPU frequency", text, ""});
        }
    }
    // Topology.
    const bool smt = f.cores > 0 && f.hardware_threads > f.cores;
    lines.push_back({true, "Topology",
                     count_text(f.packages, "package", "packages") + ", " + count_text(f.numa_nodes, "NUMA node", "NUMA nodes") +
                         ", " + count_text(f.cores, "core", "cores") + ", " +
                         count_text(f.hardware_threads, "hardware thread", "hardware threads") +
                         (smt ? " (SMT on: a sweep takes one thread of each core first)" : " (SMT off)"),
                     ""});
    lines.push_back(load_line(f));
    lines.push_back(memory_line(f, peak_bytes));
    lines.push_back(counters_line(f));
    // Throttling and virtualization.
    lines.push_back({true, "Throttling",
                     f.throttle_count ? std::to_string(*f.throttle_count) + " thermal throttle events since boot"
                                      : "no thermal throttle counters exposed",
                     ""});
    lines.push_back({true, "Machine",
                     f.virtual_machine ? "a virtual machine: its host may share the CPUs, so repeat runs and compare"
                                       : "not a virtual machine",
                     ""});
    return lines;
}

double default_ticks_per_second() { return static_cast<double>(::sysconf(_SC_CLK_TCK)); }

std::vector<std::string> environment_changes(const environment_facts& before, const environment_facts& after,
                                             double ticks_per_second) {
    std::vector<std::string> changes;
    // The load average counts this run's own threads, dozens at a time; what the CPUs did beside
    // this process is the busy time of all of them less its own CPU time. Clock ticks are coarse:
    // below a couple of seconds they cannot tell.
    const double wall = static_cast<double>(after.read_at_ns - before.read_at_ns) / 1e9;
    if (before.busy_ticks && after.busy_ticks && *after.busy_ticks >= *before.busy_ticks && wall >= 2 &&
        after.hardware_threads > 0 && ticks_per_second > 0) {
        const double busy = static_cast<double>(*after.busy_ticks - *before.busy_ticks) / ticks_per_second;
        const double own = static_cast<double>(after.own_cpu_ns - before.own_cpu_ns) / 1e9;
        const double others = (busy - own) / (wall * after.hardware_threads);
        if (others > 0.10) {
            changes.push_back("other programs (or the hypervisor) kept " + fixed(100 * others, 0) +
                              "% of the CPUs busy during the run");
        }
    }
    if (before.throttle_count && after.throttle_count && *after.throttle_count > *before.throttle_count) {
        changes.push_back("the CPUs were thermally throttled " + std::to_string(*after.throttle_count - *before.throttle_count) +
                          " times during the run");
    }
    if (before.governor != after.governor) {
        changes.push_back("the cpufreq governor changed from " + before.governor.value_or("none") + " to " +
                          after.governor.value_or("none") + " during the run");
    }
    if (before.boost != after.boost && before.boost && after.boost) {
        changes.push_back(std::string("boost was turned ") + (*after.boost ? "on" : "off") + " during the run");
    }
    return changes;
}
