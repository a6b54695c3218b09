// The measuring loop: every timed phase once, in order (the pool's sequential sorts, the thread
// sorts, the chunked sorts one at a time, the chunked sorts in a parallel loop, then the reference
// sorts when asked), with the machine read at each phase's ends, and the records they make.
#pragma once

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
