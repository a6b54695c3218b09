// The measuring loop: every timed phase once, in order (the pool's sequential sorts, the thread
// sorts, the chunked sorts one at a time, the chunked sorts in a parallel loop, then the reference
// sorts when asked), with the machine read at each phase's ends, and the records they make.
#pragma once

#include <memory>
#include <vector>

#include "bench/config.hpp"
#include "bench/console.hpp"
#include "bench/phases.hpp"
#include "machine/cpus.hpp"
#include "records/results.hpp"

// Runs every timed phase once, in order, with `workers` sequential-sort workers. Phase progress
// goes to `con`; `on_sorted` hears of every sort. The record keeps each strategy's durations in
// completion order. Throws on any failure (a wrong result included).
benchmark_results measure(const run_settings& opts, const console& con, const sort_listener& on_sorted = {},
                     unsigned workers = usable_cpu_count());

// The threads oneTBB's arena has for the phases' parallel loops.
unsigned parallel_loop_threads();

// The timed phases one unit at a time, on request: what a worker of a paired comparison runs. A
// unit is one batch of a phase as it runs: as many sorts at once as the phase runs side by side
// (one per worker), one sort where a sort has the machine to itself. Each sort is checked after its
// interval as in `measure`. Before each unit the calling thread's generator is seeded by the
// strategy and the unit's number, so that two runners sort the same arrays there (the chunked
// parallel sort's, the pool's queue); those that a parallel loop's threads draw follow the scheduling.
class unit_runner {
public:
    struct sort_time {
        std::uint64_t array; // the array's identity, as the record's array_ids
        duration_ns ns;
    };

    explicit unit_runner(const run_settings& opts, unsigned workers = usable_cpu_count());
    ~unit_runner();
    unit_runner(const unit_runner&) = delete;
    unit_runner& operator=(const unit_runner&) = delete;

    // One unit of `id`'s phase; throws std::invalid_argument for a strategy this run does not
    // measure, and as `measure` does on any failure.
    std::vector<sort_time> run(strategy id);
    // The record of every unit run so far: the strategies asked for, each with one duration per
    // unit (its sorts' median) in the order they ran, and the smallest identity of its arrays. Every strategy
    // is asked as many units, which the record's run count says.
    benchmark_results record() const;

private:
    struct state;
    std::unique_ptr<state> state_;
};
