// The timed phases. Each times `run_count` sorts of freshly generated arrays, checks every result
// after its interval and appends one duration per sort to its list.
#pragma once

#include "bench/clock.hpp"
#include "bench/options.hpp"
#include "sorting/sorting.hpp"

// Names of the strategies as errors and reports call them.
inline constexpr const char* parallel_sort_name = "parallel sort";

// Phase 3: parallel_quicksort on the calling thread, one sort at a time, each on a fresh array
// generated into `data` (whose capacity is kept for reuse).
void run_parallel_sorts(value_array& data, duration_list& parallel_times, const bench_config& sizes);
