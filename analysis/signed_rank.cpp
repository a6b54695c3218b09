// The exact Wilcoxon signed-rank test and the Hodges-Lehmann estimate of paired differences.
#include "analysis/signed_rank.hpp"

#include <algorithm>
#include <cmath>

std::vector<double> signed_rank_distribution(std::size_t n) {
    // After rank k, P(W+ = w) = (P_{k-1}(w) + P_{k-1}(w - k)) / 2.
    const std::size_t most = n * (n + 1) / 2;
    std::vector<double> p(most + 1, 0.0);
    p[0] = 1.0;
    std::size_t reach = 0;
    for (std::size_t k = 1; k <= n; ++k) {
        reach += k;
        for (std::size_t w = reach; w >= k; --w) {
            p[w] = 0.5 * (p[w] + p[w - k]);
        }
        for (std::size_t w = 0; w < k; ++w) {
            p[w] *= 0.5;
        }
    }
    return p;
}

namespace {

// Ranks of |d|, ties sharing the mean of their ranks.
std::vector<double> absolute_ranks(const std::vector<double>& d) {
    std::vector<std::size_t> order(d.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return std::abs(d[a]) < std::abs(d[b]); });
    std::vector<double> ranks(d.size());
    for (std::size_t first = 0; first < order.size();) {
        std::size_t last = first;
        while (last + 1 < order.size() && std::abs(d[order[last + 1]]) == std::abs(d[order[first]])) {
            ++last;
        }
        for (std::size_t k = first; k <= last; ++k) {
            ranks[order[k]] = 0.5 * static_cast<double>(first + last) + 1;
        }
        first = last + 1;
    }
    return ranks;
}

} // namespace

signed_rank_result signed_rank_test(std::vector<double> differences, double alpha) {
    differences.erase(std::remove(differences.begin(), differences.end(), 0.0), differences.end());
    signed_rank_result r;
    r.n = differences.size();
    if (r.n == 0) {
        return r;
    }
    const std::vector<double> ranks = absolute_ranks(differences);
    for (std::size_t k = 0; k < r.n; ++k) {
        r.w_plus += differences[k] > 0 ? ranks[k] : 0;
    }
    const std::vector<double> p = signed_rank_distribution(r.n);
    // With ties W+ may be a half: the tails reach to the whole numbers beyond it.
    double lower = 0;
    double upper = 0;
    for (std::size_t w = 0; w < p.size(); ++w) {
        lower += static_cast<double>(w) <= r.w_plus ? p[w] : 0;
        upper += static_cast<double>(w) >= r.w_plus ? p[w] : 0;
    }
    r.p_value = std::min(1.0, 2 * std::min(lower, upper));

    std::vector<double> walsh;
    walsh.reserve(r.n * (r.n + 1) / 2);
    for (std::size_t i = 0; i < r.n; ++i) {
        for (std::size_t j = i; j < r.n; ++j) {
            walsh.push_back(0.5 * (differences[i] + differences[j]));
        }
    }
    std::sort(walsh.begin(), walsh.end());
    const std::size_t m = walsh.size();
    r.estimate = m % 2 == 1 ? walsh[m / 2] : 0.5 * (walsh[m / 2 - 1] + walsh[m / 2]);
    // k - 1 is the largest w with P(W+ <= w) <= alpha / 2.
    double below = 0;
    std::size_t k = 0;
    while (k < p.size() && below + p[k] <= alpha / 2) {
        below += p[k];
        ++k;
    }
    if (k >= 1 && k <= m / 2) {
        r.interval = std::pair{walsh[k - 1], walsh[m - k]};
    }
    return r;
}

double smallest_p_value(std::size_t n) { return 2 * std::pow(0.5, static_cast<double>(n)); }

std::size_t differences_for_alpha(double alpha) {
    std::size_t n = 1;
    while (smallest_p_value(n) >= alpha) {
        ++n;
    }
    return n;
}
