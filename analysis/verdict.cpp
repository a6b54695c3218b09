// Slower, faster, equivalent or inconclusive: a shift and its interval judged, and Holm's adjustment.
#include "analysis/verdict.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

shift_verdict judge_shift(double p_value, double shift, std::pair<double, double> interval, double alpha,
                          double threshold, std::size_t runs) {
    const auto [low, high] = interval;
    if (p_value < alpha && low > threshold) {
        return {verdict::slower, std::nullopt};
    }
    if (p_value < alpha && high < -threshold) {
        return {verdict::faster, std::nullopt};
    }
    if (low >= -threshold && high <= threshold) {
        return {verdict::equivalent, std::nullopt};
    }
    // Enough runs make the interval's half-width smaller than the estimate's distance from the
    // threshold.
    shift_verdict undecided;
    const double half_width = (high - low) / 2;
    const double margin = std::abs(std::abs(shift) - threshold);
    if (margin > 1e-6) {
        const double needed = static_cast<double>(runs) * std::pow(half_width / margin, 2);
        if (needed <= 1e6) { // beyond, no practical count of runs would decide it
            undecided.runs_to_decide = std::max<std::uint64_t>(runs + 1, static_cast<std::uint64_t>(std::ceil(needed)));
        }
    }
    return undecided;
}

std::vector<double> holm_adjusted(const std::vector<double>& p_values) {
    std::vector<std::size_t> order(p_values.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return p_values[a] < p_values[b]; });
    std::vector<double> adjusted(p_values.size());
    double running = 0;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const double scaled = static_cast<double>(order.size() - rank) * p_values[order[rank]];
        running = std::max(running, std::min(1.0, scaled));
        adjusted[order[rank]] = running;
    }
    return adjusted;
}
