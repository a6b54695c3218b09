// The timed phases. Each times `run_count` sorts of freshly generated arrays, checks every result
// after its interval and appends one duration per sort to its list.
#pragma once

#include <functional>
#include <mutex>
#include <string_view>

#include "bench/config.hpp"
#include "bench/verify.hpp"
#include "common/clock.hpp"
#include "records/strategy.hpp"
#include "sorting/sorting.hpp"

// Told of every timed sort once its duration is recorded, from whichever thread ran it, outside
// every timed interval and every lock; an empty listener is never called.
using sort_listener = std::function<void(std::string_view strategy)>;

// Phase 2: thread_quicksort on run_count arrays at once, as the iterations of one oneTBB
// parallel_for; each iteration generates, sorts and checks its own array, then appends its
// duration under `times_mutex`. The first error from a body (a thread that cannot start, a wrong
// result) stops further bodies from starting and is rethrown once the running ones have finished.
// Each phase appends, with `ids`, which array each sort sorted, in the order of its durations.
void run_thread_sorts(duration_list& thread_times, std::mutex& times_mutex, const bench_config& sizes,
                      const sort_listener& on_sorted = {}, array_ids* ids = nullptr);

// Phase 3: parallel_quicksort on the calling thread, one sort at a time, each on a fresh array
// generated into `data` (whose capacity is kept for reuse).
// With `cpu_times`, also the process's CPU time around each sort, read outside the timed pair.
void run_parallel_sorts(value_array& data, duration_list& parallel_times, const bench_config& sizes,
                        const sort_listener& on_sorted = {}, duration_list* cpu_times = nullptr,
                        array_ids* ids = nullptr);

// thread_quicksort one sort at a time, like phase 3: what the thread sort costs without the
// competition of phase 2's concurrent iterations.
void run_thread_sorts_alone(value_array& data, duration_list& times, const bench_config& sizes,
                            const sort_listener& on_sorted = {});

// Phase 4: like phase 2, with parallel_quicksort, so the chunk tasks of up to run_count sorts
// compete for the processors.
void run_parallel_for_sorts(duration_list& parallel_for_times, std::mutex& times_mutex, const bench_config& sizes,
                            const sort_listener& on_sorted = {}, array_ids* ids = nullptr);

// A reference sort for comparison (see references/), run_count times, one at a time like phase 3,
// a parallel one on `threads` threads.
void run_reference_sort(value_array& data, duration_list& times, strategy id, unsigned threads,
                        const bench_config& sizes, const sort_listener& on_sorted = {},
                        duration_list* cpu_times = nullptr, array_ids* ids = nullptr);
