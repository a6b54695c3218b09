// Summary statistics of a list of measured durations.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <string>

#include "common/duration.hpp"

// Ordered by key bytes, so "Mean Average" comes before "Median Average".
using stats_map = std::map<std::string, std::int64_t>;

inline constexpr const char* mean_key = "Mean Average";
inline constexpr const char* median_key = "Median Average";

// Mean (truncating) and median (the truncated average of the two middle entries for an even
// count) in whole nanoseconds. Sorts `list` ascending in place. An empty list gives 0 for both.
stats_map compute_stats(duration_list& list);

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

// Runs that would likely bring a median with this coefficient of variation to `target` precision:
// ceil((1.96 cv / target)^2), at least min_runs_for_interval.
std::uint64_t runs_for_precision(double cv, double target);

struct duration_summary;
// The runs that would likely bring this median to `target`: runs_for_precision of its coefficient
// of variation, and never fewer than the precision already reached scales to (an interval
// narrows with the square root of the runs), so a run that fell short is never told it had enough.
std::uint64_t runs_likely_needed(const duration_summary& summary, std::size_t runs, double target);

// The figures the exports add to the console's mean and median.
struct duration_summary {
    std::int64_t mean = 0;   // as compute_stats gives it
    std::int64_t median = 0; // as compute_stats gives it
    std::int64_t min = 0;
    std::int64_t max = 0;
    std::optional<double> stddev; // sample standard deviation (n - 1); undefined below two entries
    std::optional<double> cv;     // stddev / mean; undefined with the stddev or when the mean is 0
    std::optional<median_interval> interval; // of the median; undefined below six durations
};

duration_summary summarize(duration_list durations);

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
