// Where each strategy's time goes, from instrumented sorts run after the timed phases: the figures
// a record keeps of them, the stages they cut each sort into and the sentence that names each
// strategy's dominant cost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/duration.hpp"

// Each strategy's figures are those of its run with the median instrumented time.
struct quicksort_figures {
    std::int64_t partitions = 0;
    std::int64_t counted = 0;            // elements counted, one atomic increment each
    std::int64_t counted_pivot_largest = 0; // of those, in partitions whose pivot was its range's largest value
    std::int64_t swaps = 0;
    std::int64_t deepest = 0;            // deepest nesting of quicksort calls that partitioned
    double counted_per_element = 0;
    duration_ns sort_ns = 0;             // one instrumented sort
};
struct thread_figures {
    duration_ns first_partition_ns = 0;
    duration_ns left_ns = 0;  // the left thread's sort
    duration_ns right_ns = 0;
    duration_ns idle_ns = 0;  // the faster thread finished this long before the slower one
    double left_share = 0;    // where the pivot split the array: the left side's share of the size
    duration_ns sort_ns = 0;
};
struct chunked_figures {
    duration_ns launch_ns = 0;
    duration_ns wait_ns = 0;
    duration_ns split_ns = 0;
    duration_ns merge_ns = 0;
    duration_ns rest_ns = 0;        // the sort's time outside the four stages above
    duration_ns chunk_span_ns = 0;  // first chunk task's start to the last one's end
    duration_ns task_sum_ns = 0;    // the chunk tasks' times added up
    std::int64_t appended = 0;      // elements the merge appended
    std::int64_t reallocations = 0; // times a merge array grew into new storage
    duration_ns sort_ns = 0;
};
struct contention_figures {
    duration_ns thread_in_loop_ns = 0; // the thread sort's timed median, ten at a time
    duration_ns thread_alone_ns = 0;   // its median run one at a time
    std::optional<double> thread_factor;
    duration_ns chunked_in_loop_ns = 0; // the parallel_for parallel sort's timed median
    duration_ns chunked_alone_ns = 0;   // the parallel sort's timed median
    std::optional<double> chunked_factor;
};
struct breakdown_results {
    std::uint64_t runs = 0;
    quicksort_figures sequential;
    thread_figures thread;
    chunked_figures parallel;
    contention_figures contention;
};

// One strategy's instrumented time cut into stages, for stacked bars and shares.
struct stage_time {
    std::string stage;
    duration_ns ns = 0;
};
struct strategy_stages {
    std::string name;
    std::vector<stage_time> stages;
};
std::vector<strategy_stages> stages_of(const breakdown_results& breakdown);

// One plain sentence per strategy naming its dominant cost with its share, in the report's order
// (sequential, thread, parallel, parallel_for).
std::vector<std::string> breakdown_sentences(const breakdown_results& breakdown);

// `part` as a whole-number percentage of `whole` ("78%"); "n/a" when `whole` is 0.
std::string share_text(double part, double whole);
