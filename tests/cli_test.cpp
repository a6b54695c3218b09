#include <gtest/gtest.h>

#include "process.hpp"

TEST(Cli, SmallRunCompletesAndChecksEverySort) {
    const process_result r = run_process(bench_binary(), {"--size", "30000", "--runs", "2", "--chunk", "4000"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const auto threads_done = r.out.find("Sequential Sort: completed 2/2 tasks.\nQuicksort just creating threads: Complete\n");
    const auto parallel_done = r.out.find("Parallel Quicksort: Complete\n");
    ASSERT_NE(threads_done, std::string::npos) << r.out;
    ASSERT_NE(parallel_done, std::string::npos) << r.out;
    EXPECT_LT(threads_done, parallel_done);
    EXPECT_EQ(r.out.rfind("Sequential Sort: 0/2 tasks completed.\n", 0), 0u) << r.out;
}

TEST(Cli, BadOptionExitsTwoBeforeAnyWork) {
    const process_result r = run_process(bench_binary(), {"--runs", "0"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << r.err;
}
