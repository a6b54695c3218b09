// The statistics of measured durations: a median's interval, the U test, Hodges-Lehmann and the bootstrap.
#include "analysis/stats.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

std::optional<interval_rank> median_interval_rank(std::size_t n) {
    if (n < min_runs_for_interval) {
        return std::nullopt;
    }
    // P(Bin(n, 1/2) = i) in logarithms, so that no n the options allow over- or underflows; terms
    // too small for a long double add nothing that matters next to 0.025.
    const long double log_all = static_cast<long double>(n) * std::log(2.0L);
    const long double log_n_factorial = std::lgamma(static_cast<long double>(n) + 1);
    long double below = 0; // P(Bin <= i - 1)
    for (std::size_t i = 0; i < n; ++i) {
        const long double term =
            std::exp(log_n_factorial - std::lgamma(static_cast<long double>(i) + 1) -
                     std::lgamma(static_cast<long double>(n - i) + 1) - log_all);
        if (below + term > 0.025L) {
            if (i == 0) {
                return std::nullopt;
            }
            return interval_rank{i, static_cast<double>(1 - 2 * below)};
        }
        below += term;
    }
    return std::nullopt;
}

std::optional<median_interval> interval_of_median(const duration_list& sorted, std::int64_t median) {
    const auto rank = median_interval_rank(sorted.size());
    if (!rank) {
        return std::nullopt;
    }
    median_interval interval;
    interval.low = sorted[rank->k - 1];
    interval.high = sorted[sorted.size() - rank->k];
    interval.coverage = rank->coverage;
    if (median > 0) {
        interval.precision = static_cast<double>(std::max(median - interval.low,
                                                          interval.high - median)) /
                             static_cast<double>(median);
    }
    return interval;
}

namespace {

// P(U <= u) under the null hypothesis, counting the orderings of m and n distinct values.
double exact_u_cdf(std::size_t m, std::size_t n, double u) {
    // ways[k][j]: orderings of k first-sample and some second-sample values with U = j, built up
    // one second-sample value at a time (each adds the count of first-sample values above it).
    const std::size_t max_u = m * n;
    std::vector<std::vector<double>> ways(m + 1, std::vector<double>(max_u + 1, 0.0));
    for (std::size_t k = 0; k <= m; ++k) {
        ways[k][0] = 1.0; // with no second-sample value yet, U is 0
    }
    for (std::size_t placed = 1; placed <= n; ++placed) {
        std::vector<std::vector<double>> next(m + 1, std::vector<double>(max_u + 1, 0.0));
        for (std::size_t k = 0; k <= m; ++k) {
            for (std::size_t j = 0; j <= max_u; ++j) {
                // The largest value is either a second-sample value (adds nothing) or a first-sample
                // one (above all `placed` second-sample values).
                double count = ways[k][j];
                if (k > 0 && j >= placed) {
                    count += next[k - 1][j - placed];
                }
                next[k][j] = count;
            }
        }
        ways = std::move(next);
    }
    double below = 0.0;
    double total = 0.0;
    for (std::size_t j = 0; j <= max_u; ++j) {
        total += ways[m][j];
        if (static_cast<double>(j) <= u + 1e-9) {
            below += ways[m][j];
        }
    }
    return below / total;
}

// Whether the U test's p-value (and so the shift's interval) comes from U's exact distribution.
bool u_is_exact(std::size_t m, std::size_t n, double tie_term) {
    return tie_term == 0.0 && std::min(m, n) <= 8 && m * n <= 10'000;
}

// The tie term sum(t^3 - t) over groups of equal values in both samples together.
double tie_term_of(const duration_list& first, const duration_list& second) {
    duration_list all = first;
    all.insert(all.end(), second.begin(), second.end());
    std::sort(all.begin(), all.end());
    double term = 0;
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = start;
        while (end < all.size() && all[end] == all[start]) {
            ++end;
        }
        const auto t = static_cast<double>(end - start);
        term += t * t * t - t;
        start = end;
    }
    return term;
}

// The standard normal quantile, by bisection on erfc: precise to far below what a rank needs.
double normal_quantile(double p) {
    double low = -40;
    double high = 40;
    for (int k = 0; k < 200; ++k) {
        const double mid = (low + high) / 2;
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? low : high) = mid;
    }
    return (low + high) / 2;
}

} // namespace

shift_estimate hodges_lehmann(const duration_list& base, const duration_list& next, double alpha) {
    shift_estimate result;
    const std::size_t m = base.size();
    const std::size_t n = next.size();
    if (m == 0 || n == 0) {
        return result;
    }
    // The m * n differences are never stored (two runs of a million sorts would need terabytes):
    // the k-th smallest is found by bisection on its value, counting the differences at or below
    // a value in one pass over both sorted samples.
    duration_list b = base;
    duration_list x = next;
    std::sort(b.begin(), b.end());
    std::sort(x.begin(), x.end());
    const auto kth = [&](std::uint64_t k) { // 1-based
        duration_ns low = x.front() - b.back();
        duration_ns high = x.back() - b.front();
        while (low < high) {
            const duration_ns mid = low + (high - low) / 2;
            std::uint64_t at_most = 0; // pairs with x - b <= mid, that is b >= x - mid
            std::size_t first = 0;
            for (const duration_ns value : x) {
                while (first < b.size() && b[first] < value - mid) {
                    ++first;
                }
                at_most += b.size() - first;
            }
            (at_most >= k ? high : low) = at_most >= k ? mid : mid + 1;
        }
        return static_cast<double>(low);
    };
    const std::uint64_t mn = static_cast<std::uint64_t>(m) * n;
    result.estimate = mn % 2 == 1 ? kth(mn / 2 + 1) : (kth(mn / 2) + kth(mn / 2 + 1)) / 2;

    // k - 1 is the largest u with P(U <= u) <= alpha / 2 under the null hypothesis.
    const double tie_term = tie_term_of(base, next);
    result.exact = u_is_exact(m, n, tie_term);
    std::int64_t below = -1; // that u, or -1 when even u = 0 is too likely
    if (result.exact) {
        while (below + 1 < static_cast<std::int64_t>(mn) &&
               exact_u_cdf(m, n, static_cast<double>(below + 1)) <= alpha / 2 + 1e-12) {
            ++below;
        }
    } else {
        const double md = static_cast<double>(m);
        const double nd = static_cast<double>(n);
        const double total = md + nd;
        const double variance = md * nd / 12 * ((total + 1) - tie_term / (total * (total - 1)));
        if (variance > 0) {
            // With the continuity correction: P(U <= u) ~ Phi((u + 0.5 - mn/2) / sd).
            below = static_cast<std::int64_t>(
                std::floor(md * nd / 2 - 0.5 + normal_quantile(alpha / 2) * std::sqrt(variance)));
            below = std::min<std::int64_t>(below, static_cast<std::int64_t>(mn) / 2 - 1);
        }
    }
    if (below >= 0) {
        const auto k = static_cast<std::uint64_t>(below) + 1;
        result.interval = std::pair<double, double>{kth(k), kth(mn + 1 - k)};
    }
    return result;
}

u_test mann_whitney_u(const duration_list& first, const duration_list& second) {
    const std::size_t m = first.size();
    const std::size_t n = second.size();
    std::vector<std::pair<duration_ns, int>> all;
    for (const duration_ns d : first) {
        all.emplace_back(d, 0);
    }
    for (const duration_ns d : second) {
        all.emplace_back(d, 1);
    }
    std::sort(all.begin(), all.end());

    // Midranks for ties, and the tie term of the variance.
    double first_ranks = 0.0;
    double tie_term = 0.0;
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = start;
        while (end < all.size() && all[end].first == all[start].first) {
            ++end;
        }
        const double midrank = (static_cast<double>(start + 1) + static_cast<double>(end)) / 2.0;
        for (std::size_t k = start; k < end; ++k) {
            if (all[k].second == 0) {
                first_ranks += midrank;
            }
        }
        const auto t = static_cast<double>(end - start);
        tie_term += t * t * t - t;
        start = end;
    }

    u_test result;
    const double md = static_cast<double>(m);
    const double nd = static_cast<double>(n);
    result.u = first_ranks - md * (md + 1) / 2;
    if (m == 0 || n == 0) {
        return result;
    }
    const double mean = md * nd / 2;
    // The exact table costs about n * m * (m * n) steps: fine for the small samples it is for.
    if (u_is_exact(m, n, tie_term)) {
        result.exact = true;
        // The distribution is symmetric about the mean: take the tail on U's side and double it.
        const double tail = result.u <= mean ? exact_u_cdf(m, n, result.u) : exact_u_cdf(m, n, md * nd - result.u);
        result.p_value = std::min(1.0, 2 * tail);
        return result;
    }
    const double total = md + nd;
    const double variance = md * nd / 12 * ((total + 1) - tie_term / (total * (total - 1)));
    if (variance <= 0) {
        return result; // every value equal: no evidence of a difference
    }
    const double z = std::max(0.0, std::abs(result.u - mean) - 0.5) / std::sqrt(variance);
    result.p_value = std::min(1.0, std::erfc(z / std::sqrt(2.0)));
    return result;
}

std::optional<std::pair<double, double>> bootstrap_ratio_of_medians(const duration_list& numerator,
                                                                    const duration_list& denominator,
                                                                    std::uint64_t seed, int resamples) {
    // 10,000 resamples of samples this large would take minutes, every time a table is printed.
    constexpr std::size_t most_sorts = 200'000;
    if (numerator.size() < 2 || denominator.size() < 2 || resamples < 1 ||
        numerator.size() + denominator.size() > most_sorts) {
        return std::nullopt;
    }
    std::mt19937_64 generator(seed);
    duration_list sample;
    // The median as compute_stats takes it, of a resample drawn from `from`.
    const auto resampled_median = [&](const duration_list& from) {
        sample.resize(from.size());
        for (auto& value : sample) {
            value = from[generator() % from.size()];
        }
        return median_of(sample);
    };
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(resamples));
    for (int k = 0; k < resamples; ++k) {
        const duration_ns top = resampled_median(numerator);
        const duration_ns bottom = resampled_median(denominator);
        if (bottom == 0) {
            return std::nullopt;
        }
        ratios.push_back(static_cast<double>(top) / static_cast<double>(bottom));
    }
    return percentile_interval(std::move(ratios));
}

std::pair<double, double> percentile_interval(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(std::lround(q * (values.size() - 1)))]; };
    return std::pair{at(0.025), at(0.975)};
}

double median_of(std::vector<double> values) {
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const double upper = values[mid];
    return values.size() % 2 == 1 ? upper
                                  : (upper + *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid))) / 2;
}

std::int64_t median_of(duration_list values) {
    if (values.empty()) {
        return 0;
    }
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const std::int64_t upper = values[mid];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const std::int64_t lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}
