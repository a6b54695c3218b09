// The kernel's performance counters for this process, through perf_event_open: the software
// ones (task-clock, context switches, CPU migrations, page faults), which open even on virtual
// machines at perf_event_paranoid 2, and the hardware ones where a PMU exists. They are only read
// at phase boundaries: nothing touches a timed interval.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "machine/records.hpp"

// Tries to open each counter for this thread and says which open, and the kernel's reason for
// those that do not.
std::vector<counter_availability> available_counters();

// Every counter, for the threads that live through the phases: the one that constructs the set,
// each worker of a thread pool that calls worker_hook() as it starts work (oneTBB's), and the
// threads that open their own (the sequential pool's workers, before their first sort). Threads that a sort starts inside its
// timed interval (the thread sort's two, the chunk tasks) are left out: counting them would make
// their start and end slower, inside the interval. read() sums them; a counter that cannot be
// opened reads as not available with the reason.
class counter_set {
public:
    explicit counter_set(bool enabled = true);
    ~counter_set();
    counter_set(const counter_set&) = delete;
    counter_set& operator=(const counter_set&) = delete;

    std::vector<counter_value> read() const;

    // Opens the counters for the calling thread; the returned action, called on the same thread
    // when it is done, keeps its counts and closes them.
    std::function<void()> follow_this_thread() const;

    // For a pool whose threads outlive the set: called on each of its threads as it starts work,
    // opens the counters for that thread once; after the set has ended it opens nothing.
    std::function<void()> worker_hook() const;

    struct state; // the open descriptors, shared with the hooks

private:
    std::shared_ptr<state> state_;
};

// What one phase used: the difference of two readings, with getrusage's figures.
struct resource_reading {
    duration_ns wall_ns = 0;
    duration_ns user_ns = 0;
    duration_ns system_ns = 0;
    std::int64_t voluntary_switches = 0;
    std::int64_t involuntary_switches = 0;
    std::int64_t minor_faults = 0;
    std::int64_t major_faults = 0;
    std::vector<counter_value> counters;
};
resource_reading read_resources(const counter_set& counters);
phase_resources resources_between(const std::string& phase, const resource_reading& before,
                                  const resource_reading& after, unsigned cpus);

// The process's CPU time (all its threads) in nanoseconds.
duration_ns process_cpu_ns();

// The process's peak resident memory so far, in bytes.
std::uint64_t peak_rss_bytes();
