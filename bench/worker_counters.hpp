// oneTBB's workers live on from phase to phase: each gets the counters of the set now open when it
// first enters the scheduler, so that its work shows when a phase ends, not when the process does.
#pragma once

#include "machine/counters.hpp"

// Hands `counters` to oneTBB's workers for its lifetime.
class tbb_worker_counters {
public:
    explicit tbb_worker_counters(const counter_set& counters);
    ~tbb_worker_counters();
    tbb_worker_counters(const tbb_worker_counters&) = delete;
    tbb_worker_counters& operator=(const tbb_worker_counters&) = delete;

private:
    bool registered_ = false;
};
