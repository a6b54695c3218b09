// perf_event_open counters for this process, or why each is not available.
#include "machine/counters.hpp"

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/clock.hpp"

namespace {

struct counter_kind {
    const char* name;
    bool hardware;
    std::uint32_t type;
    std::uint64_t config;
    bool kernel_only; // the kernel does these itself: a count of user mode alone is always 0
};

const counter_kind kinds[] = {
    {"task-clock", false, PERF_TYPE_SOFTWARE, PERF_COUNT_SW_TASK_CLOCK, false},
    {"context-switches", false, PERF_TYPE_SOFTWARE, PERF_COUNT_SW_CONTEXT_SWITCHES, true},
    {"cpu-migrations", false, PERF_TYPE_SOFTWARE, PERF_COUNT_SW_CPU_MIGRATIONS, true},
    {"page-faults", false, PERF_TYPE_SOFTWARE, PERF_COUNT_SW_PAGE_FAULTS, false},
    {"cycles", true, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CPU_CYCLES, false},
    {"instructions", true, PERF_TYPE_HARDWARE, PERF_COUNT_HW_INSTRUCTIONS, false},
    {"cache-misses", true, PERF_TYPE_HARDWARE, PERF_COUNT_HW_CACHE_MISSES, false},
    {"branch-misses", true, PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_MISSES, false},
};

constexpr int user_mode_only = 100000; // a refusal of our own: the kernel would count nothing

// A counter of the calling thread alone, kernel mode included where perf_event_paranoid allows it,
// else user mode alone; -errno when the kernel refuses.
int open_counter(const counter_kind& kind) {
    perf_event_attr attr{};
    attr.size = sizeof attr;
    attr.type = kind.type;
    attr.config = kind.config;
    attr.exclude_hv = 1;
    attr.read_format = PERF_FORMAT_TOTAL_TIME_ENABLED | PERF_FORMAT_TOTAL_TIME_RUNNING;
    long fd = ::syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        if (kind.kernel_only) {
            return -user_mode_only;
        }
        attr.exclude_kernel = 1;
        fd = ::syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
    }
    return fd >= 0 ? static_cast<int>(fd) : -errno;
}

std::string refusal(int error) {
    switch (error) {
    case user_mode_only:
        return "not available: perf_event_paranoid allows user mode only, and the kernel does these in kernel mode";
    case ENOENT:
    case EOPNOTSUPP: return "not available: no such counter here (a virtual machine without a PMU, most likely)";
    case EACCES:
    case EPERM: return "not available: not permitted (perf_event_paranoid)";
    default: return std::string("not available: ") + std::strerror(error);
    }
}

// A counter's value, scaled up when the kernel had to multiplex it.
bool read_counter(int fd, double& value) {
    std::uint64_t data[3] = {};
    if (::read(fd, data, sizeof data) != static_cast<ssize_t>(sizeof data)) {
        return false;
    }
    value = data[2] > 0 && data[2] < data[1] ? static_cast<double>(data[0]) * static_cast<double>(data[1]) /
                                                   static_cast<double>(data[2])
                                             : static_cast<double>(data[0]);
    return true;
}

} // namespace

std::vector<counter_availability> available_counters() {
    std::vector<counter_availability> found;
    for (const auto& kind : kinds) {
        const int fd = open_counter(kind);
        found.push_back({kind.name, kind.hardware, fd >= 0, fd >= 0 ? "" : refusal(-fd)});
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return found;
}

struct counter_set::state {
    std::mutex mutex;
    std::vector<std::vector<int>> fds = std::vector<std::vector<int>>(std::size(kinds)); // per counter, per thread
    std::vector<std::string> reasons = std::vector<std::string>(std::size(kinds));
    std::vector<double> retired = std::vector<double>(std::size(kinds)); // of threads that have ended
    bool enabled = true;
    bool closed = false; // the set has ended: a worker late to it opens nothing
    std::uint64_t generation = next_generation();

    static std::uint64_t next_generation() {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }

    // The descriptors opened, per counter (-1 where none).
    std::vector<int> open_for_this_thread() {
        std::vector<int> opened(std::size(kinds), -1);
        const std::lock_guard lock(mutex);
        if (closed) {
            return opened;
        }
        for (std::size_t k = 0; k < std::size(kinds); ++k) {
            // A counter the first thread could not open stays unavailable for all.
            if (!reasons[k].empty()) {
                continue;
            }
            const int fd = open_counter(kinds[k]);
            if (fd >= 0) {
                fds[k].push_back(fd);
                opened[k] = fd;
            } else if (fds[k].empty()) {
                reasons[k] = refusal(-fd);
            }
        }
        return opened;
    }

    // Keeps a finished thread's counts and closes its descriptors, so that a run of many batches
    // never holds more than its live threads' counters open.
    void retire(const std::vector<int>& opened) {
        const std::lock_guard lock(mutex);
        for (std::size_t k = 0; k < opened.size(); ++k) {
            auto& list = fds[k];
            const auto it = std::find(list.begin(), list.end(), opened[k]);
            if (opened[k] < 0 || it == list.end()) {
                continue;
            }
            double value = 0;
            if (read_counter(opened[k], value)) {
                retired[k] += value;
            }
            list.erase(it);
            ::close(opened[k]);
        }
    }
};

counter_set::counter_set(bool enabled) : state_(std::make_shared<state>()) {
    state_->enabled = enabled;
    if (!enabled) {
        return;
    }
    state_->open_for_this_thread();
}

counter_set::~counter_set() {
    const std::lock_guard lock(state_->mutex);
    state_->closed = true;
    for (auto& list : state_->fds) {
        for (const int fd : list) {
            ::close(fd);
        }
        list.clear();
    }
}

std::function<void()> counter_set::follow_this_thread() const {
    if (!state_->enabled) {
        return nullptr;
    }
    return [counters = state_, opened = state_->open_for_this_thread()] { counters->retire(opened); };
}

std::function<void()> counter_set::worker_hook() const {
    if (!state_->enabled) {
        return nullptr;
    }
    return [counters = state_] {
        thread_local std::uint64_t opened_for = 0;
        if (opened_for != counters->generation) {
            opened_for = counters->generation;
            counters->open_for_this_thread();
        }
    };
}

std::vector<counter_value> counter_set::read() const {
    std::vector<counter_value> values;
    const std::lock_guard lock(state_->mutex);
    for (std::size_t k = 0; k < std::size(kinds); ++k) {
        counter_value v{kinds[k].name, std::nullopt, state_->reasons[k]};
        if (!state_->enabled) {
            v.reason = "not available: counters not opened (--resources opens them, --no-counters keeps them closed)";
        } else if (!state_->fds[k].empty() || state_->retired[k] > 0) {
            double sum = state_->retired[k];
            bool ok = true;
            for (const int fd : state_->fds[k]) {
                double one = 0;
                ok = ok && read_counter(fd, one);
                sum += one;
            }
            if (ok) {
                v.value = sum;
            } else {
                v.reason = "not available: the counter could not be read";
            }
        }
        values.push_back(std::move(v));
    }
    return values;
}

duration_ns process_cpu_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<duration_ns>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::uint64_t peak_rss_bytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

resource_reading read_resources(const counter_set& counters) {
    resource_reading r;
    r.counters = counters.read();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ns = [](const timeval& t) { return static_cast<duration_ns>(t.tv_sec) * 1'000'000'000 + t.tv_usec * 1000; };
    r.user_ns = ns(usage.ru_utime);
    r.system_ns = ns(usage.ru_stime);
    r.voluntary_switches = usage.ru_nvcsw;
    r.involuntary_switches = usage.ru_nivcsw;
    r.minor_faults = usage.ru_minflt;
    r.major_faults = usage.ru_majflt;
    r.wall_ns = now_ns();
    return r;
}

phase_resources resources_between(const std::string& phase, const resource_reading& before,
                                  const resource_reading& after, unsigned cpus) {
    phase_resources p;
    p.phase = phase;
    p.cpus = cpus;
    p.wall_ns = after.wall_ns - before.wall_ns;
    p.user_ns = after.user_ns - before.user_ns;
    p.system_ns = after.system_ns - before.system_ns;
    p.parallelism = p.wall_ns > 0 ? static_cast<double>(p.user_ns + p.system_ns) / static_cast<double>(p.wall_ns) : 0;
    p.voluntary_switches = after.voluntary_switches - before.voluntary_switches;
    p.involuntary_switches = after.involuntary_switches - before.involuntary_switches;
    p.minor_faults = after.minor_faults - before.minor_faults;
    p.major_faults = after.major_faults - before.major_faults;
    for (std::size_t k = 0; k < after.counters.size(); ++k) {
        counter_value v = after.counters[k];
        if (v.value && k < before.counters.size() && before.counters[k].value) {
            v.value = *v.value - *before.counters[k].value;
        } else {
            v.value.reset();
        }
        p.counters.push_back(std::move(v));
    }
    return p;
}
