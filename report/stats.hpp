// The mean and median of a duration list as the report prints them, and the summary every export
// adds to them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "analysis/stats.hpp"
#include "common/duration.hpp"

// Ordered by key bytes, so "Mean Average" comes before "Median Average".
using stats_map = std::map<std::string, std::int64_t>;

inline constexpr const char* mean_key = "Mean Average";
inline constexpr const char* median_key = "Median Average";

// Mean (truncating) and median (the truncated average of the two middle entries for an even
// count) in whole nanoseconds. Sorts `list` ascending in place. An empty list gives 0 for both.
stats_map compute_stats(duration_list& list);

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

// The runs that would likely bring this median to `target`: the interval the median has narrows
// with the square root of the runs, so n (precision / target)^2, at least min_runs_for_interval.
// The interval, not the spread around the mean, which one slow outlier inflates. Without an
// interval, min_runs_for_interval.
std::uint64_t runs_likely_needed(const duration_summary& summary, std::size_t runs, double target);

// numerator / divisor as a truncating 64-bit integer division, printed as a double in the
// stream's default format (3.42 prints 3, a ratio below 1 prints 0, a million prints 1e+06);
// "n/a" for a divisor of 0.
std::string format_speedup(std::int64_t numerator, std::int64_t divisor);
