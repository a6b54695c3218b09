#include <gtest/gtest.h>

#include "process.hpp"

TEST(Cli, SmallRunCompletesAndChecksEverySort) {
    const process_result r = run_process(bench_binary(), {"--size", "30000", "--runs", "2", "--chunk", "4000"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("Parallel Quicksort: Complete\n"), std::string::npos) << r.out;
}

TEST(Cli, BadOptionExitsTwoBeforeAnyWork) {
    const process_result r = run_process(bench_binary(), {"--runs", "0"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << r.err;
}
