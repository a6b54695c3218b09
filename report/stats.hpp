// Summary statistics of a list of measured durations.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

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
