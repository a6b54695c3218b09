// Summary statistics of a list of measured durations.
#pragma once

#include <cstdint>
#include <map>
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
    double stddev = 0.0; // sample standard deviation (n - 1); 0 for fewer than two entries
    double cv = 0.0;     // stddev / mean; 0 when the mean is 0
};

duration_summary summarize(duration_list durations);
