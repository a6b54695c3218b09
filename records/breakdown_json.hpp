// The breakdown's figures in JSON, one definition for the writer and the reader, so the two cannot
// drift apart. Field names are the members' names.
#pragma once

#include <nlohmann/json.hpp>

#include "records/breakdown.hpp"

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(quicksort_figures, partitions, counted, counted_pivot_largest, swaps, deepest,
                                   counted_per_element, sort_ns)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(thread_figures, first_partition_ns, left_ns, right_ns, idle_ns, left_share,
                                   sort_ns)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(chunked_figures, launch_ns, wait_ns, split_ns, merge_ns, rest_ns, chunk_span_ns,
                                   task_sum_ns, appended, reallocations, sort_ns)

// The contention figures of one concurrent phase: its median in the loop, alone, and their ratio.
struct contention_json {
    duration_ns in_loop_ns = 0;
    duration_ns alone_ns = 0;
    double contention_factor = 0; // 0 when the median alone is 0
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(contention_json, in_loop_ns, alone_ns, contention_factor)
