#include "analysis/processes.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

duration_list process_medians(const std::vector<duration_list>& processes) {
    duration_list medians;
    medians.reserve(processes.size());
    for (const auto& p : processes) {
        medians.push_back(median_of(p));
    }
    return medians;
}

process_estimate estimate_over_processes(const std::vector<duration_list>& processes) {
    return estimate_over_medians(process_medians(processes));
}

process_estimate estimate_over_medians(duration_list medians) {
    process_estimate e;
    std::sort(medians.begin(), medians.end());
    e.processes = medians.size();
    e.median = median_of(medians);
    e.interval = interval_of_median(medians, e.median);
    return e;
}

std::optional<variance_components> components_of(const std::vector<duration_list>& processes) {
    if (processes.size() < 2) {
        return std::nullopt;
    }
    double within_sum = 0;
    double within_df = 0;
    double inverse_counts = 0;
    std::vector<double> means;
    for (const auto& p : processes) {
        if (p.size() < 2) {
            return std::nullopt;
        }
        double sum = 0;
        for (const auto d : p) {
            sum += static_cast<double>(d);
        }
        const double mean = sum / static_cast<double>(p.size());
        for (const auto d : p) {
            within_sum += (static_cast<double>(d) - mean) * (static_cast<double>(d) - mean);
        }
        within_df += static_cast<double>(p.size() - 1);
        inverse_counts += 1.0 / static_cast<double>(p.size());
        means.push_back(mean);
    }
    const double n = static_cast<double>(means.size());
    double grand = 0;
    for (const double m : means) {
        grand += m;
    }
    grand /= n;
    if (!(grand > 0)) {
        return std::nullopt;
    }
    double between_sum = 0;
    for (const double m : means) {
        between_sum += (m - grand) * (m - grand);
    }
    const double within_variance = within_sum / within_df;
    variance_components c;
    c.mean = grand;
    c.sorts_per_process = n / inverse_counts;
    c.between_variance = between_sum / (n - 1) - within_variance * inverse_counts / n;
    c.between_negative = c.between_variance < 0;
    c.within_cv = std::sqrt(within_variance) / grand;
    c.between_cv = c.between_negative ? 0 : std::sqrt(c.between_variance) / grand;
    return c;
}

std::optional<std::uint64_t> optimal_sorts_per_process(const variance_components& c, double process_cost,
                                                       double sort_cost) {
    if (!(c.between_cv > 0) || !(process_cost > 0) || !(sort_cost > 0)) {
        return std::nullopt;
    }
    const double r = std::ceil(std::sqrt(process_cost / sort_cost * c.within_cv * c.within_cv /
                                         (c.between_cv * c.between_cv)));
    // A ratio this large means one long process; the options cap the sorts far below it anyway.
    return static_cast<std::uint64_t>(std::clamp(r, 1.0, 1e9));
}

std::uint64_t processes_for_precision(const variance_components& c, std::uint64_t sorts, double target) {
    constexpr double half_pi = std::numbers::pi / 2;
    const double z = 1.959963984540054;
    const double per_process = c.between_cv * c.between_cv +
                               half_pi * c.within_cv * c.within_cv / static_cast<double>(std::max<std::uint64_t>(sorts, 1));
    const double k = std::ceil((z / target) * (z / target) * half_pi * per_process);
    return std::max<std::uint64_t>(min_runs_for_interval, static_cast<std::uint64_t>(std::min(k, 1e9)));
}

std::vector<duration_list> resample_processes(const std::vector<duration_list>& processes,
                                              std::mt19937_64& generator) {
    std::vector<duration_list> drawn;
    drawn.reserve(processes.size());
    for (std::size_t j = 0; j < processes.size(); ++j) {
        const duration_list& p = processes[generator() % processes.size()];
        duration_list sorts(p.size());
        for (auto& d : sorts) {
            d = p[generator() % p.size()];
        }
        drawn.push_back(std::move(sorts));
    }
    return drawn;
}

namespace {

std::int64_t median_of_medians(const std::vector<duration_list>& processes) {
    return median_of(process_medians(processes));
}

} // namespace

std::optional<std::pair<double, double>> two_level_bootstrap_ratio(const std::vector<duration_list>& numerator,
                                                                   const std::vector<duration_list>& denominator,
                                                                   std::uint64_t seed, int resamples) {
    const auto usable = [](const std::vector<duration_list>& side) {
        return side.size() >= 2 && std::none_of(side.begin(), side.end(), [](const duration_list& p) { return p.empty(); });
    };
    if (!usable(numerator) || !usable(denominator) || resamples < 1) {
        return std::nullopt;
    }
    std::mt19937_64 generator(seed);
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(resamples));
    for (int i = 0; i < resamples; ++i) {
        const std::int64_t top = median_of_medians(resample_processes(numerator, generator));
        const std::int64_t bottom = median_of_medians(resample_processes(denominator, generator));
        if (bottom == 0) {
            return std::nullopt;
        }
        ratios.push_back(static_cast<double>(top) / static_cast<double>(bottom));
    }
    return percentile_interval(std::move(ratios));
}
