// How well a median is known: its distribution-free interval against exact binomial counts, the
// advice it gives, and the stopping rule of --precision through scripted durations and a clock.
#include <gtest/gtest.h>

#include <sstream>

#include "bench/adaptive.hpp"
#include "report/comparison_report.hpp"
#include "report/console_report.hpp"
#include "records/results.hpp"
#include "report/stats.hpp"
#include "process.hpp"

TEST(MedianInterval, RankAndCoverageMatchExactBinomialCounts) {
    for (std::size_t n = 1; n <= 40; ++n) {
        // Exact counts of the 2^n equally likely sign patterns: below[j] = #{Bin(n, 1/2) <= j}.
        std::vector<std::uint64_t> below(n + 1);
        std::uint64_t choose = 1;
        for (std::size_t j = 0; j <= n; ++j) {
            below[j] = (j > 0 ? below[j - 1] : 0) + choose;
            choose = choose * (n - j) / (j + 1);
        }
        const std::uint64_t all = std::uint64_t{1} << n;
        std::size_t k = 0; // the largest k with P(Bin <= k - 1) <= 1/40
        while (k < n && 40 * below[k] <= all) {
            ++k;
        }
        const auto rank = median_interval_rank(n);
        if (k == 0) {
            EXPECT_FALSE(rank) << n;
            continue;
        }
        ASSERT_TRUE(rank) << n;
        EXPECT_EQ(rank->k, k) << n;
        EXPECT_NEAR(rank->coverage, 1 - 2 * static_cast<double>(below[k - 1]) / static_cast<double>(all), 1e-12) << n;
    }
    EXPECT_FALSE(median_interval_rank(5)) << "even [x(1), x(5)] covers only 93.75%";
    EXPECT_EQ(median_interval_rank(10)->k, 2u);
    EXPECT_NEAR(median_interval_rank(10)->coverage, 0.978515625, 1e-12);
    // Far beyond what any table holds, the rank still follows n/2 - 0.98 sqrt(n).
    const auto million = median_interval_rank(1'000'000);
    ASSERT_TRUE(million);
    EXPECT_NEAR(static_cast<double>(million->k), 500'000 - 980, 2);
    EXPECT_GE(million->coverage, 0.95);
}

TEST(MedianInterval, AdviceNamesThePrecisionAndTheRunsLikelyToReachTwoPercent) {
    // Ten sorts known to +-10% with a cv that alone would ask for fewer: the interval's own
    // narrowing with sqrt(n) decides.
    const duration_list wide = {90, 90, 95, 100, 100, 100, 100, 105, 110, 110};
    const duration_summary s = summarize(wide);
    ASSERT_TRUE(s.interval && s.cv);
    EXPECT_DOUBLE_EQ(s.interval->precision, 0.1);
    EXPECT_EQ(runs_likely_needed(s, 10, 0.02), 250u);
    const std::vector<std::string> advice = noise_warnings(s, 10);
    ASSERT_EQ(advice.size(), 1u);
    EXPECT_EQ(advice[0], "imprecise: its median is known to \u00b110.0% (97.9% interval); about 250 runs would likely "
                         "reach \u00b12%");
    EXPECT_TRUE(noise_warnings(summarize({100, 100, 100, 100, 100, 100}), 6).empty()) << "precise: no advice";
    EXPECT_EQ(noise_warnings(summarize({7}), 1).at(0),
              "too few runs (1) for an interval of its median; at least 6 runs are needed");
    EXPECT_EQ(noise_warnings(summarize({7, 8, 9}), 3).at(0),
              "too few runs (3) for an interval of its median; at least 6 runs are needed")
        << "no interval, so no guess from the spread";

    // One slow outlier inflates the spread around the mean (cv 1.48) but not the median's interval:
    // nine sorts, k = 2, [100, 106] around 103, so +-2.91%; 9 (3 / 103 / 0.02)^2 = 19.09 -> 20.
    const duration_summary outlier = summarize({100, 100, 101, 102, 103, 104, 105, 106, 1000});
    ASSERT_TRUE(outlier.interval && outlier.cv);
    EXPECT_GT(*outlier.cv, 1.4) << "the mean's rule, 1.96^2 cv^2 / 0.02^2, would ask for about 20,000";
    EXPECT_EQ(runs_likely_needed(outlier, 9, 0.02), 20u);
    EXPECT_EQ(runs_likely_needed(outlier, 9, 0.03), 9u) << "reached: no more than it has";
    EXPECT_EQ(runs_likely_needed(s, 10, 0.05), 40u) << "10 (0.1 / 0.05)^2";
    // The advice names the target it was measured against.
    EXPECT_HAS(noise_warnings(s, 10, 0.05).at(0), "about 40 runs would likely reach \u00b15%");
}

namespace {

// A strategy whose sorts come from `script` in order, on a clock that moves `step` per batch.
struct scripted_strategy {
    duration_list script;
    duration_list times = {};
    duration_ns now = 0;
    duration_ns step = 0;
    adaptive_outcome run(const precision_goal& goal, std::uint64_t min_runs, std::uint64_t batch) {
        return measure_until_precise(times, min_runs, batch, goal, 0, [this] { return now; },
                                     [this](std::uint64_t n) {
                                         for (std::uint64_t k = 0; k < n; ++k) {
                                             times.push_back(script.at(times.size() % script.size()));
                                         }
                                         now += step;
                                     });
    }
};

} // namespace

TEST(RunsUntilPrecise, StopsAtTheFirstPreciseBatchOrAtACap) {
    precision_goal goal;
    goal.target = 0.01;
    goal.max_runs = 100;
    // 50 and 150 among steady 100s: the interval spans them until ten sorts pull x(2) and x(9) in.
    scripted_strategy steadying{{50, 100, 100, 100, 100, 150, 100, 100, 100, 100}};
    adaptive_outcome o = steadying.run(goal, 6, 2);
    EXPECT_EQ(o.batches, (std::vector<std::uint64_t>{6, 2, 2}));
    EXPECT_TRUE(o.reached);

    scripted_strategy precise_at_once{{100}};
    EXPECT_EQ(precise_at_once.run(goal, 6, 4).batches, std::vector<std::uint64_t>{6}) << "no batch after precise";

    goal.max_runs = 11;
    scripted_strategy noisy{{50, 150}};
    o = noisy.run(goal, 6, 2);
    EXPECT_EQ(o.batches, (std::vector<std::uint64_t>{6, 2, 2, 1})) << "the last batch stops at --max-runs";
    EXPECT_FALSE(o.reached);
    EXPECT_EQ(noisy.times.size(), 11u);

    goal.max_runs = 100;
    goal.max_time_ns = 25;
    scripted_strategy slow{{50, 150}, {}, 0, 10};
    EXPECT_EQ(slow.run(goal, 6, 3).batches, (std::vector<std::uint64_t>{6, 3, 3})) << "no batch past --max-time";
}

TEST(RunsUntilPrecise, TheReportSaysHowManySortsEachStrategyTook) {
    benchmark_results r;
    r.context.run_count = 6;
    r.strategies = {make_strategy("sequential sort", duration_list(8, 5)), make_strategy("thread sort", {1, 2, 3, 4, 5, 6})};
    EXPECT_EQ(runs_line(r), "Each sort ran 6 to 8 times (sequential sort 8, thread sort 6)");
    r.strategies[0] = make_strategy("sequential sort", duration_list(6, 5));
    EXPECT_EQ(runs_line(r), "Each sort ran 6 times");

    // The precision block names every strategy, the reference sorts too, against the target asked.
    run_context context;
    context.run_count = 6;
    context.precision = precision_goal{0.05, 6, std::nullopt};
    const auto same = [](const char* name) { return make_strategy(name, duration_list(6, 100)); };
    strategy_result reference = make_strategy(strategy::std_sort, {100, 90, 110, 100, 80, 120});
    const benchmark_results goal = make_results(context, {same("sequential sort"), same("thread sort"),
                                                          same("parallel sort"), same("parallel_for parallel sort"),
                                                          reference});
    std::ostringstream block;
    print_precision(goal, block);
    EXPECT_HAS(block.str(), "std::sort: 6 sorts, \u00b120.0%, target not reached (at --max-runs 6); about 96 runs " "would likely reach \u00b15.0%")
        << block.str();
    EXPECT_HAS(goal.strategies.back().warnings.at(0), "would likely reach \u00b15%")
        << "the advice speaks of the target, not of 2%";
}

TEST(HodgesLehmann, EstimateAndIntervalAgainstBruteForce) {
    // Exact, by brute force in Python apart from this code: the median of every difference new -
    // base, and the interval [d(k), d(mn + 1 - k)] whose k - 1 is the largest u with P(U <= u) <=
    // 0.025 under U's null distribution, counted over every way to choose the base's ranks.
    const struct {
        duration_list base, next;
        double estimate;
        std::pair<double, double> interval;
    } exact_cases[] = {{{3, 9, 14, 20}, {1, 7, 8, 16, 25, 31}, 3, {-13, 22}},
                       {{40, 10, 30, 20, 50}, {55, 65, 45, 75, 35}, 25, {-5, 55}}};
    for (const auto& c : exact_cases) {
        const shift_estimate s = hodges_lehmann(c.base, c.next, 0.05);
        EXPECT_TRUE(s.exact);
        EXPECT_DOUBLE_EQ(s.estimate, c.estimate);
        EXPECT_EQ(s.interval, c.interval);
    }
    // Ties and unequal sizes: the normal approximation, against SciPy 1.10 (norm.ppf, tie term).
    const shift_estimate tied =
        hodges_lehmann({10, 12, 12, 15, 15, 15, 20, 22, 30}, {14, 15, 15, 18, 21, 21, 21, 25, 28, 33, 40}, 0.05);
    EXPECT_FALSE(tied.exact);
    EXPECT_EQ(tied.estimate, 6);
    EXPECT_EQ(tied.interval, (std::pair<double, double>{0, 13}));
    const shift_estimate steps =
        hodges_lehmann({100, 100, 100, 100, 100, 101, 101, 101, 101, 101}, duration_list{101, 101, 101, 101, 101, 101,
                                                                                         103, 103, 103, 103, 103, 103},
                       0.05);
    EXPECT_EQ(steps.estimate, 1.5);
    EXPECT_EQ(steps.interval, (std::pair<double, double>{1, 2}));
    EXPECT_FALSE(hodges_lehmann({1, 2}, {3, 4}, 0.05).interval) << "two runs a side bet on too little";
    // Runs of the most sorts the options allow: 4e10 differences, never stored.
    duration_list large(200'000);
    for (std::size_t k = 0; k < large.size(); ++k) {
        large[k] = static_cast<duration_ns>((k * 7919) % large.size());
    }
    duration_list shifted = large;
    for (auto& d : shifted) {
        d += 500;
    }
    const shift_estimate big = hodges_lehmann(large, shifted, 0.05);
    EXPECT_EQ(big.estimate, 500);
    ASSERT_TRUE(big.interval);
    EXPECT_LT(big.interval->first, 500);
    EXPECT_GT(big.interval->second, 500);
}

TEST(PrecisionGoal, TheTimeLimitIsSharedBetweenThePhasesStillToRun) {
    precision_goal goal;
    EXPECT_FALSE(time_share(goal, 0, 4)) << "no limit, no share";
    goal.max_time_ns = 90'000'000'000;
    // 90 s over six phases: the first may take 15 s, not all of it.
    EXPECT_EQ(time_share(goal, 0, 6), 15'000'000'000);
    // The first took only 5 s: the five after it share the 85 s left.
    EXPECT_EQ(time_share(goal, 5'000'000'000, 5), 17'000'000'000);
    EXPECT_EQ(time_share(goal, 60'000'000'000, 1), 30'000'000'000) << "the last phase has what is left";
    EXPECT_EQ(time_share(goal, 95'000'000'000, 2), 1) << "past the limit: only the minimum batch";
}
