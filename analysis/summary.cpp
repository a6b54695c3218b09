// The figures of one list of durations.
#include "analysis/summary.hpp"

#include <algorithm>
#include <cmath>

mean_and_median mean_median_sorting(duration_list& list) {
    if (list.empty()) {
        return {};
    }
    std::int64_t sum = 0;
    for (const duration_ns d : list) {
        sum += d;
    }
    mean_and_median figures;
    figures.mean = static_cast<std::int64_t>(static_cast<std::uint64_t>(sum) / list.size());
    std::sort(list.begin(), list.end());
    const std::size_t n = list.size();
    figures.median = n % 2 == 1 ? list[n / 2] : (list[n / 2] + list[(n - 1) / 2]) / 2;
    return figures;
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
    const mean_and_median figures = mean_median_sorting(durations); // leaves `durations` sorted
    summary.mean = figures.mean;
    summary.median = figures.median;
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
