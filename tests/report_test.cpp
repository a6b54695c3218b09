#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "report/console_report.hpp"
#include "report/stats.hpp"

TEST(ComputeStats, OddCountSortsTheCallersList) {
    duration_list list{30, 10, 20};
    const stats_map stats = compute_stats(list);
    EXPECT_EQ(stats.at(mean_key), 20);
    EXPECT_EQ(stats.at(median_key), 20);
    EXPECT_EQ(list, (duration_list{10, 20, 30}));
    EXPECT_EQ(stats.size(), 2u);
}

TEST(ComputeStats, EvenCountsTruncate) {
    duration_list pair{10, 11};
    EXPECT_EQ(compute_stats(pair), (stats_map{{mean_key, 10}, {median_key, 10}}));

    duration_list four{7, 1, 4, 2};
    EXPECT_EQ(compute_stats(four), (stats_map{{mean_key, 3}, {median_key, 3}}));
}

TEST(ComputeStats, EmptyListGivesZeros) {
    duration_list empty;
    EXPECT_EQ(compute_stats(empty), (stats_map{{mean_key, 0}, {median_key, 0}}));
}

TEST(PrintStats, MeanThenMedianOnFourLines) {
    std::ostringstream out;
    print_stats({{median_key, 15}, {mean_key, 2}}, out);
    EXPECT_EQ(out.str(), "Mean Average:\n2 nanoseconds.\nMedian Average:\n15 nanoseconds.\n");
}

TEST(Speedup, IntegerDivisionThenDefaultDoubleFormat) {
    EXPECT_EQ(format_speedup(799, 200), "3");
    EXPECT_EQ(format_speedup(199, 200), "0");
    EXPECT_EQ(format_speedup(2'000'000'000, 2'000), "1e+06");
    EXPECT_EQ(format_speedup(123'456'789, 1), "1.23457e+08");
    EXPECT_EQ(format_speedup(5, 0), "n/a");
    EXPECT_EQ(format_speedup(0, 0), "n/a");
}

TEST(Report, GoldenText) {
    report_stats stats;
    stats.sequential = {{mean_key, 799}, {median_key, 805}};
    stats.thread = {{mean_key, 450}, {median_key, 399}};
    stats.parallel = {{mean_key, 200}, {median_key, 0}};
    stats.parallel_for = {{mean_key, 100}, {median_key, 110}};
    std::ostringstream out;
    print_report(stats, 10, out);

    const std::string rule(100, '-');
    const std::string expected = "Results:\n"
                                 "\n"
                                 "Each sort ran 10 times\n"
                                 "\n"
                                 "Results for the sequential sort:\n"
                                 "Mean Average:\n"
                                 "799 nanoseconds.\n"
                                 "Median Average:\n"
                                 "805 nanoseconds.\n"
                                 "\n" +
                                 rule + "\n" +
                                 "\n"
                                 "Results for the thread sort: \n"
                                 "Mean Average:\n"
                                 "450 nanoseconds.\n"
                                 "Median Average:\n"
                                 "399 nanoseconds.\n"
                                 "\n" +
                                 rule + "\n" +
                                 "\n"
                                 "Results for the parallel sort:\n"
                                 "Mean Average:\n"
                                 "200 nanoseconds.\n"
                                 "Median Average:\n"
                                 "0 nanoseconds.\n" +
                                 rule + "\n" +
                                 "\n"
                                 "Results for the parallel_for parallel sort:\n"
                                 "Mean Average:\n"
                                 "100 nanoseconds.\n"
                                 "Median Average:\n"
                                 "110 nanoseconds.\n" +
                                 rule + "\n" +
                                 "\n"
                                 "Speedups for parallel to sequential: \n"
                                 "Mean speedup: 3 times faster.\n"
                                 "Median speedup: n/a times faster.\n"
                                 "\n"
                                 "Speedups for parallel to just threads: \n"
                                 "Mean speedup: 2 times faster\n"
                                 "Median speedup: n/a times faster\n"
                                 "\n"
                                 "Speedups for parallel quicksort using a normal for loop to using a parallel_for:\n"
                                 "Mean speedup: 0 times faster\n"
                                 "Median speedup: n/a times faster\n"
                                 "\n"
                                 "\n"
                                 "\n"
                                 "\n"
                                 "\n";
    EXPECT_EQ(out.str(), expected);
}

TEST(Report, ReferenceBlockFollowsTheSpeedupsBeforeTheFinalEmptyLines) {
    report_stats stats;
    stats.sequential = stats.thread = stats.parallel_for = {{mean_key, 400}, {median_key, 400}};
    stats.parallel = {{mean_key, 200}, {median_key, 200}};
    std::vector<strategy_result> references{make_strategy("std::sort", {50, 50}), make_strategy("zero", {0})};
    references[0].times_faster_than_parallel = 4.0;
    std::ostringstream plain;
    std::ostringstream with_references;
    print_report(stats, 2, plain);
    print_report(stats, 2, with_references, references);

    const std::string block = "Reference sorts:\n"
                              "std::sort: mean 50 nanoseconds, median 50 nanoseconds, 4.00 times faster than the "
                              "parallel sort by median\n"
                              "zero: mean 0 nanoseconds, median 0 nanoseconds, n/a times faster than the parallel "
                              "sort by median\n"
                              "\n";
    std::string expected = plain.str();
    expected.insert(expected.size() - 4, block); // before the last four of the five empty lines
    EXPECT_EQ(with_references.str(), expected);
}
