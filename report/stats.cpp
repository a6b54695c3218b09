#include "report/stats.hpp"

#include <algorithm>

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
