// The figures of one list of durations: the report's mean and median, and the spread and the
// interval every export adds to them. Pure: no records, no printing.
#pragma once

#include <cstdint>
#include <optional>

#include "analysis/stats.hpp"
#include "common/duration.hpp"

// The report's two figures of a list, in whole nanoseconds.
struct mean_and_median {
    std::int64_t mean = 0;   // the sum over the count, as an unsigned division (truncating)
    std::int64_t median = 0; // for an even count the truncated average of the two middle entries
};

// Sorts `list` ascending in place; an empty list gives 0 for both. O(n log n).
mean_and_median mean_median_sorting(duration_list& list);

struct duration_summary {
    std::int64_t mean = 0;   // as mean_median_sorting gives it
    std::int64_t median = 0; // as mean_median_sorting gives it
    std::int64_t min = 0;
    std::int64_t max = 0;
    std::optional<double> stddev; // sample standard deviation (n - 1); undefined below two entries
    std::optional<double> cv;     // stddev / mean; undefined with the stddev or when the mean is 0
    std::optional<median_interval> interval; // of the median; undefined below six durations
};

// Works on its own copy of the list. O(n log n).
duration_summary summarize(duration_list durations);

// The runs that would likely bring this median to `target`: the interval the median has narrows
// with the square root of the runs, so n (precision / target)^2, at least min_runs_for_interval.
// The interval, not the spread around the mean, which one slow outlier inflates. Without an
// interval, min_runs_for_interval.
std::uint64_t runs_likely_needed(const duration_summary& summary, std::size_t runs, double target);
