// The mean and median of a duration list as the report prints them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "analysis/summary.hpp"
#include "common/duration.hpp"

// Ordered by key bytes, so "Mean Average" comes before "Median Average".
using stats_map = std::map<std::string, std::int64_t>;

inline constexpr const char* mean_key = "Mean Average";
inline constexpr const char* median_key = "Median Average";

// Mean (truncating) and median (the truncated average of the two middle entries for an even
// count) in whole nanoseconds. Sorts `list` ascending in place. An empty list gives 0 for both.
stats_map compute_stats(duration_list& list);

// The same two figures of a list summarized once already.
stats_map stats_of(const duration_summary& summary);
