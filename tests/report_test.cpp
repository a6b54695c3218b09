#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "report/console_report.hpp"
#include "common/format.hpp"
#include "report/stats.hpp"

TEST(ComputeStats, MeanAndMedianTruncateAndTheCallersListEndsSorted) {
    const struct {
        duration_list list;
        std::int64_t mean, median;
    } cases[] = {{{30, 10, 20}, 20, 20}, {{10, 11}, 10, 10}, {{7, 1, 4, 2}, 3, 3}, {{}, 0, 0}};
    for (auto c : cases) {
        EXPECT_EQ(compute_stats(c.list), (stats_map{{mean_key, c.mean}, {median_key, c.median}}));
        EXPECT_TRUE(std::is_sorted(c.list.begin(), c.list.end()));
    }
}

TEST(Speedup, IntegerDivisionThenDefaultDoubleFormat) {
    const struct {
        std::int64_t numerator, divisor;
        const char* printed;
    } cases[] = {{799, 200, "3"}, {199, 200, "0"}, {2'000'000'000, 2'000, "1e+06"}, {123'456'789, 1, "1.23457e+08"},
                 {5, 0, "n/a"}, {0, 0, "n/a"}};
    for (const auto& c : cases) {
        EXPECT_EQ(format_speedup(c.numerator, c.divisor), c.printed) << c.numerator << " / " << c.divisor;
    }
}

// The report's whole layout is checked on the binary's own output (cli_test); here, what only
// chosen figures can show.
TEST(Report, ReferenceBlockFollowsTheSpeedupsBeforeTheFinalEmptyLines) {
    run_context context;
    context.run_count = 2;
    std::vector<strategy_result> measured{
        make_strategy(strategy::sequential, {400, 400}), make_strategy(strategy::thread, {400, 400}),
        make_strategy(strategy::parallel, {200, 200}), make_strategy(strategy::parallel_for, {400, 400})};
    std::vector<strategy_result> with_sorts = measured;
    with_sorts.push_back(make_strategy(strategy::std_sort, {50, 50}));
    with_sorts.push_back(make_strategy("zero", {0}));
    with_sorts.back().reference = true;
    std::ostringstream plain;
    std::ostringstream with_references;
    print_report(make_results(context, measured), plain);
    print_report(make_results(context, with_sorts), with_references);

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
