#include "report/stats.hpp"

#include <algorithm>
#include <cmath>

stats_map compute_stats(duration_list& list) {
    stats_map stats;
    if (list.empty()) {
        stats[mean_key] = 0;
        stats[median_key] = 0;
        return stats;
    }

    std::int64_t sum = 0;
    for (const duration_ns d : list) {
        sum += d;
    }
    stats[mean_key] = static_cast<std::int64_t>(static_cast<std::uint64_t>(sum) / list.size());

    std::sort(list.begin(), list.end());
    const std::size_t n = list.size();
    stats[median_key] = n % 2 == 1 ? list[n / 2] : (list[n / 2] + list[(n - 1) / 2]) / 2;
    return stats;
}

duration_summary summarize(duration_list durations) {
    duration_summary summary;
    const stats_map stats = compute_stats(durations); // leaves `durations` sorted
    summary.mean = stats.at(mean_key);
    summary.median = stats.at(median_key);
    if (durations.empty()) {
        return summary;
    }
    summary.min = durations.front();
    summary.max = durations.back();

    if (durations.size() > 1) {
        double mean = 0.0;
        for (const duration_ns d : durations) {
            mean += static_cast<double>(d);
        }
        mean /= static_cast<double>(durations.size());
        double squares = 0.0;
        for (const duration_ns d : durations) {
            squares += (static_cast<double>(d) - mean) * (static_cast<double>(d) - mean);
        }
        summary.stddev = std::sqrt(squares / static_cast<double>(durations.size() - 1));
    }
    if (summary.mean != 0) {
        summary.cv = summary.stddev / static_cast<double>(summary.mean);
    }
    return summary;
}
