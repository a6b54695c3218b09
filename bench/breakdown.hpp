// Where each strategy's time goes: after the timed phases, every strategy runs again `run_count`
// times through instantiations of the same routines with an observer that counts and clocks.
// Nothing here touches the timed figures.
#pragma once

#include "bench/config.hpp"
#include "bench/phases.hpp"
#include "records/results.hpp"
#include "sorting/sorting.hpp"

// `timed` holds the timed phases' results: the contention factors set their medians against the
// same sorts run one at a time. Throws sort_check_error when an instrumented sort is wrong.
// `on_sorted` hears of every sort, outside its interval.
breakdown_results measure_breakdown(const bench_config& sizes, const benchmark_results& timed,
                                    const sort_listener& on_sorted = {});

// The instrumented quicksort's counters over the whole of `values`, which it sorts; no clock.
quicksort_figures count_quicksort(value_array& values);
