// The classic report's arithmetic: truncating means and medians, speedups as the original prints them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
