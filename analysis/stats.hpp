// Pure statistics over measured durations: the interval of a median, the rank test, the
// Hodges-Lehmann shift and the bootstrap. No records, no printing.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>

#include "common/duration.hpp"

// The distribution-free confidence interval of a median from order statistics: for n sorted
// durations x(1) <= ... <= x(n), [x(k), x(n+1-k)] with k the largest integer such that
// P(Bin(n, 1/2) <= k - 1) <= 0.025, so that it covers the true median at least 95% of the time.
inline constexpr std::size_t min_runs_for_interval = 6;
struct interval_rank {
    std::size_t k = 0;   // 1-based rank of the lower end
    double coverage = 0; // exact: 1 - 2 P(Bin(n, 1/2) <= k - 1)
};
// Nothing below min_runs_for_interval durations, where even [x(1), x(n)] covers too little.
std::optional<interval_rank> median_interval_rank(std::size_t n);

struct median_interval {
    std::int64_t low = 0;
    std::int64_t high = 0;
    double coverage = 0;
    double precision = 0; // the larger distance from the median to an end, relative to the median
};
// The interval of `median` from `sorted` (ascending); nothing below min_runs_for_interval.
std::optional<median_interval> interval_of_median(const duration_list& sorted, std::int64_t median);

// The two-sided Mann-Whitney U test of whether two samples come from the same distribution.
// Without ties, with at most 8 values on a side and at most 10,000 pairs, the p-value comes from U's exact
// distribution; otherwise from the normal approximation with the tie correction and a continuity
// correction of 0.5 (the choices SciPy's mannwhitneyu makes by default).
struct u_test {
    double u = 0;         // U of the first sample: pairs (a, b) with a > b, ties counting one half
    double p_value = 1;
    bool exact = false;
};
// Both samples need at least one value.
u_test mann_whitney_u(const duration_list& first, const duration_list& second);

// The Hodges-Lehmann estimate of how far `next` lies from `base`: the median of all m * n
// differences next - base, in nanoseconds, with its distribution-free interval [D(k), D(mn+1-k)]
// of the sorted differences, where k - 1 is the largest u with P(U <= u) <= alpha / 2 under the
// null hypothesis (U's exact distribution where the U test's p-value is exact, else the normal
// approximation with the tie and continuity corrections). No interval when even k = 1 is too wide
// a bet, as with very few runs.
struct shift_estimate {
    double estimate = 0;
    std::optional<std::pair<double, double>> interval;
    bool exact = false;
};
shift_estimate hodges_lehmann(const duration_list& base, const duration_list& next, double alpha);

// The 95% percentile-bootstrap interval of median(numerator) / median(denominator): 10,000 times
// both samples are resampled with replacement from a generator seeded with `seed`, so the result
// is reproducible. Nothing when a sample has fewer than two values, both together more than
// 200,000, or a resampled median is 0.
std::optional<std::pair<double, double>> bootstrap_ratio_of_medians(const duration_list& numerator,
                                                                    const duration_list& denominator,
                                                                    std::uint64_t seed, int resamples = 10'000);

// The median of `values` by the report's rule: for an even count the truncated average of the two
// middle values. 0 for none.
std::int64_t median_of(duration_list values);

// The median of nonempty `values`, the average of the two middle ones for an even count.
double median_of(std::vector<double> values);

// The 2.5th and 97.5th percentiles of nonempty `values` (the nearest rank).
std::pair<double, double> percentile_interval(std::vector<double> values);
