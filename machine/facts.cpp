// Machine facts from /proc and /sys, each reader fed text or a root folder.
#include "machine/facts.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "common/clock.hpp"
#include "machine/counters.hpp"
#include "machine/topology.hpp"

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

cpuinfo parse_cpuinfo(const std::string& text) {
    cpuinfo info;
    std::istringstream in(text);
    bool model_seen = false;
    bool mhz_seen = false;
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        if (!model_seen && line.rfind("model name", 0) == 0) {
            const auto start = line.find_first_not_of(" \t", colon + 1);
            info.model = start == std::string::npos ? "" : line.substr(start);
            model_seen = true;
        } else if (!mhz_seen && line.rfind("cpu MHz", 0) == 0) {
            info.mhz = static_cast<unsigned>(std::strtod(line.c_str() + colon + 1, nullptr));
            mhz_seen = true;
        }
    }
    info.hypervisor = text.find(" hypervisor") != std::string::npos;
    return info;
}

meminfo parse_meminfo(const std::string& text) {
    meminfo info;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kib = 0;
        if (!(fields >> key >> kib)) {
            continue;
        }
        const std::uint64_t bytes = kib * 1024;
        if (key == "MemTotal:") {
            info.total = bytes;
        } else if (key == "MemAvailable:") {
            info.available = bytes;
        } else if (key == "SwapTotal:") {
            info.swap_total = bytes;
        } else if (key == "SwapFree:") {
            info.swap_free = bytes;
        }
    }
    return info;
}

std::optional<std::string> bracketed_choice(const std::string& text) {
    const auto open = text.find('[');
    const auto close = text.find(']', open);
    if (open == std::string::npos || close == std::string::npos) {
        return std::nullopt;
    }
    return text.substr(open + 1, close - open - 1);
}

std::optional<unsigned> parse_procs_running(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("procs_running ", 0) == 0) {
            return static_cast<unsigned>(std::strtoul(line.c_str() + 14, nullptr, 10));
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_busy_ticks(const std::string& text) {
    std::istringstream in(text);
    std::string label;
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(in >> label >> user >> nice >> system >> idle >> iowait >> irq >> softirq) || label != "cpu") {
        return std::nullopt;
    }
    in >> steal; // absent on old kernels
    return user + nice + system + irq + softirq + steal;
}

std::optional<process_ticks> parse_pid_stat(const std::string& text) {
    // The name may hold blanks and parentheses: it runs from the first '(' to the last ')'.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::nullopt;
    }
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    std::vector<std::string> fields;
    while (rest >> field) {
        fields.push_back(field);
    }
    // After the name: state is field 3, utime field 14 and stime field 15 of the whole line.
    if (fields.size() < 13) {
        return std::nullopt;
    }
    return process_ticks{text.substr(open + 1, close - open - 1),
                         std::strtoull(fields[11].c_str(), nullptr, 10) + std::strtoull(fields[12].c_str(), nullptr, 10)};
}

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<std::uint64_t> read_number(const std::string& path) {
    const auto line = read_first_line(path);
    if (!line || line->empty() || line->find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::strtoull(line->c_str(), nullptr, 10);
}

std::optional<int> read_int(const std::string& path) {
    const auto line = read_first_line(path);
    if (!line || line->empty()) {
        return std::nullopt;
    }
    return std::atoi(line->c_str());
}

// Every /proc/PID/stat there is now: CPU ticks by PID.
std::map<int, process_ticks> all_ticks(const std::string& proc_root) {
    std::map<int, process_ticks> ticks;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(proc_root, error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        if (const auto t = parse_pid_stat(read_all(entry.path().string() + "/stat"))) {
            ticks[std::atoi(name.c_str())] = *t;
        }
    }
    return ticks;
}

} // namespace

std::vector<std::pair<std::string, double>> busiest_processes(const std::string& proc_root, std::size_t count) {
    const auto before = all_ticks(proc_root);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto after = all_ticks(proc_root);
    const double ticks_per_second = static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::vector<std::pair<std::string, double>> busy;
    for (const auto& [pid, now] : after) {
        const auto then = before.find(pid);
        if (pid == ::getpid() || then == before.end() || now.ticks <= then->second.ticks) {
            continue;
        }
        busy.emplace_back(now.name, 100 * static_cast<double>(now.ticks - then->second.ticks) / ticks_per_second);
    }
    std::sort(busy.begin(), busy.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (busy.size() > count) {
        busy.resize(count);
    }
    return busy;
}

environment_facts read_environment(const std::string& proc_root, const std::string& sys_root, bool sample_busiest) {
    environment_facts facts;
    const std::string cpufreq = sys_root + "/devices/system/cpu/cpu0/cpufreq/";
    facts.governor = read_first_line(cpufreq + "scaling_governor");
    facts.scaling_min_khz = read_number(cpufreq + "scaling_min_freq");
    facts.scaling_max_khz = read_number(cpufreq + "scaling_max_freq");
    if (const auto boost = read_number(sys_root + "/devices/system/cpu/cpufreq/boost")) {
        facts.boost = *boost != 0;
    } else if (const auto no_turbo = read_number(sys_root + "/devices/system/cpu/intel_pstate/no_turbo")) {
        facts.boost = *no_turbo == 0;
    }
    facts.load_avg = parse_loadavg(read_first_line(proc_root + "/loadavg").value_or(""));
    const std::string stat = read_all(proc_root + "/stat");
    facts.runnable = parse_procs_running(stat);
    facts.busy_ticks = parse_busy_ticks(stat);
    facts.own_cpu_ns = process_cpu_ns();
    facts.read_at_ns = now_ns();
    if (sample_busiest) {
        facts.busiest = busiest_processes(proc_root);
    }
    if (const auto m = read_meminfo(proc_root)) {
        facts.mem_available_bytes = m->available;
        facts.swap_total_bytes = m->swap_total;
        facts.swap_free_bytes = m->swap_free;
    }
    facts.transparent_hugepages =
        bracketed_choice(read_first_line(sys_root + "/kernel/mm/transparent_hugepage/enabled").value_or(""));
    facts.aslr = read_int(proc_root + "/sys/kernel/randomize_va_space");
    facts.perf_event_paranoid = read_int(proc_root + "/sys/kernel/perf_event_paranoid");
    facts.counters = available_counters();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sys_root + "/devices/system/cpu", error)) {
        for (const char* file : {"/thermal_throttle/core_throttle_count", "/thermal_throttle/package_throttle_count"}) {
            if (const auto n = read_number(entry.path().string() + file)) {
                facts.throttle_count = facts.throttle_count.value_or(0) + *n;
            }
        }
    }
    facts.virtual_machine = parse_cpuinfo(read_all(proc_root + "/cpuinfo")).hypervisor;
    return facts;
}

environment_facts read_environment_now(bool sample_busiest) {
    environment_facts facts = read_environment("/proc", "/sys", sample_busiest);
    const machine_topology topology = read_topology();
    facts.packages = topology.packages;
    facts.numa_nodes = topology.numa_nodes;
    facts.cores = topology.cores;
    facts.hardware_threads = topology.hardware_threads;
    return facts;
}

std::optional<meminfo> read_meminfo(const std::string& proc_root) {
    const std::string text = read_all(proc_root + "/meminfo");
    if (text.empty()) {
        return std::nullopt;
    }
    return parse_meminfo(text);
}

cpuinfo read_cpuinfo(const std::string& proc_root) { return parse_cpuinfo(read_all(proc_root + "/cpuinfo")); }
