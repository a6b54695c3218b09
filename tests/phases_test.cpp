#include <gtest/gtest.h>

#include <oneapi/tbb/global_control.h>

#include <mutex>
#include <stdexcept>

#include "bench/phases.hpp"

namespace {

bench_config small_sizes(std::uint64_t runs) {
    bench_config sizes;
    sizes.array_size = 20'000;
    sizes.chunk_size = 3'000;
    sizes.run_count = runs;
    return sizes;
}

} // namespace

TEST(ParallelLoopPhases, RecordExactlyOneDurationPerRun) {
    std::mutex m;
    duration_list thread_list;
    run_thread_sorts(thread_list, m, small_sizes(13));
    EXPECT_EQ(thread_list.size(), 13u);

    duration_list parallel_for_list;
    run_parallel_for_sorts(parallel_for_list, m, small_sizes(13));
    EXPECT_EQ(parallel_for_list.size(), 13u);

    for (const duration_ns d : thread_list) {
        EXPECT_GE(d, 0);
    }
}

TEST(ParallelLoopPhases, OneAllowedThreadStillRecordsEveryRun) {
    const tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    std::mutex m;
    duration_list thread_list;
    duration_list parallel_for_list;
    run_thread_sorts(thread_list, m, small_sizes(5));
    run_parallel_for_sorts(parallel_for_list, m, small_sizes(5));
    EXPECT_EQ(thread_list.size(), 5u);
    EXPECT_EQ(parallel_for_list.size(), 5u);
}

TEST(ParallelLoopPhases, AnErrorInABodyReachesTheCaller) {
    std::mutex m;
    duration_list list;
    bench_config sizes = small_sizes(8);
    sizes.chunk_size = 0; // parallel_quicksort refuses it inside every body
    EXPECT_THROW(run_parallel_for_sorts(list, m, sizes), std::invalid_argument);
    EXPECT_TRUE(list.empty());
}

TEST(SequentialLoopPhase, GeneratesAFreshArrayForEveryRun) {
    value_array data;
    duration_list list;
    run_parallel_sorts(data, list, small_sizes(3));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_TRUE(data.empty()) << "the reusable array is emptied after each run";
}
