// Estimates over processes: medians of medians, variance components, the design and the two-level bootstrap.
#include "analysis/processes.hpp"

#include <algorithm>
#include <map>
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

std::optional<double> median_cv(const std::vector<duration_list>& processes) {
    if (processes.size() < 2) {
        return std::nullopt;
    }
    double mean = 0;
    const duration_list medians = process_medians(processes);
    for (const auto m : medians) {
        mean += static_cast<double>(m);
    }
    mean /= static_cast<double>(medians.size());
    if (!(mean > 0)) {
        return std::nullopt;
    }
    double squares = 0;
    for (const auto m : medians) {
        squares += (static_cast<double>(m) - mean) * (static_cast<double>(m) - mean);
    }
    return std::sqrt(squares / static_cast<double>(medians.size() - 1)) / mean;
}

std::uint64_t processes_for_cv(double cv, double target) {
    const double k = std::ceil(std::pow(1.96 / target, 2) * std::numbers::pi / 2 * cv * cv);
    return std::max<std::uint64_t>(min_runs_for_interval, k < 1e15 ? static_cast<std::uint64_t>(k) : 1'000'000'000'000'000);
}

std::optional<double> input_share(const std::vector<duration_list>& processes,
                                  const std::vector<std::vector<std::uint64_t>>& arrays) {
    // Each sort's deviation from its process's mean, by the array it sorted.
    std::map<std::uint64_t, std::vector<double>> by_array;
    for (std::size_t p = 0; p < processes.size() && p < arrays.size(); ++p) {
        if (arrays[p].size() != processes[p].size() || processes[p].empty()) {
            return std::nullopt;
        }
        double mean = 0;
        for (const auto d : processes[p]) {
            mean += static_cast<double>(d);
        }
        mean /= static_cast<double>(processes[p].size());
        for (std::size_t k = 0; k < processes[p].size(); ++k) {
            by_array[arrays[p][k]].push_back(static_cast<double>(processes[p][k]) - mean);
        }
    }
    double total = 0;
    double n = 0;
    double squares_of_counts = 0;
    std::size_t groups = 0;
    for (const auto& [id, group] : by_array) {
        if (group.size() >= 2) {
            ++groups;
            n += static_cast<double>(group.size());
            squares_of_counts += static_cast<double>(group.size() * group.size());
            for (const double r : group) {
                total += r;
            }
        }
    }
    if (groups < 2 || n <= static_cast<double>(groups)) {
        return std::nullopt;
    }
    const double grand = total / n;
    double between = 0;
    double within = 0;
    for (const auto& [id, group] : by_array) {
        if (group.size() < 2) {
            continue;
        }
        double mean = 0;
        for (const double r : group) {
            mean += r;
        }
        mean /= static_cast<double>(group.size());
        between += static_cast<double>(group.size()) * (mean - grand) * (mean - grand);
        for (const double r : group) {
            within += (r - mean) * (r - mean);
        }
    }
    const double k = static_cast<double>(groups);
    const double ms_array = between / (k - 1);
    const double ms_error = within / (n - k);
    const double n0 = (n - squares_of_counts / n) / (k - 1);
    const double component = std::max(0.0, (ms_array - ms_error) / n0);
    return component + ms_error > 0 ? component / (component + ms_error) : 0.0;
}
