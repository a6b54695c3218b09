#include "report/stats.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

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

std::uint64_t runs_likely_needed(const duration_summary& summary, std::size_t runs, double target) {
    if (!summary.interval || summary.interval->precision <= target) {
        return std::max<std::uint64_t>(runs, min_runs_for_interval);
    }
    const double scaled = std::ceil(static_cast<double>(runs) * std::pow(summary.interval->precision / target, 2));
    return scaled < 1e12 ? std::max<std::uint64_t>(min_runs_for_interval, static_cast<std::uint64_t>(scaled))
                         : 1'000'000'000'000;
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
    if (summary.stddev && summary.mean != 0) {
        summary.cv = *summary.stddev / static_cast<double>(summary.mean);
    }
    summary.interval = interval_of_median(durations, summary.median);
    return summary;
}

std::string format_speedup(std::int64_t numerator, std::int64_t divisor) {
    if (divisor == 0) {
        return "n/a";
    }
    std::ostringstream text; // a fresh stream: the default general format, precision 6
    text << static_cast<double>(numerator / divisor);
    return text.str();
}
