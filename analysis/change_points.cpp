// Change points in a series of medians: E-divisive splits, each tested with Student's t.
#include "analysis/change_points.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

double incomplete_beta(double a, double b, double x) {
    if (x <= 0) {
        return 0;
    }
    if (x >= 1) {
        return 1;
    }
    // The continued fraction converges fast below (a + 1) / (a + b + 2); above, the symmetry
    // I_x(a, b) = 1 - I_{1-x}(b, a) brings x there.
    if (x > (a + 1) / (a + b + 2)) {
        return 1 - incomplete_beta(b, a, 1 - x);
    }
    const double log_front = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x);
    // Lentz's method for the continued fraction 1 / (1 + d1 / (1 + d2 / (1 + ...))).
    constexpr double tiny = 1e-300;
    double c = 1;
    double d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::abs(d) < tiny ? tiny : d);
    double f = d;
    for (int m = 1; m <= 500; ++m) {
        const double even = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
        d = 1 + even * d;
        c = 1 + even / c;
        d = 1 / (std::abs(d) < tiny ? tiny : d);
        c = std::abs(c) < tiny ? tiny : c;
        f *= d * c;
        const double odd = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
        d = 1 + odd * d;
        c = 1 + odd / c;
        d = 1 / (std::abs(d) < tiny ? tiny : d);
        c = std::abs(c) < tiny ? tiny : c;
        const double step = d * c;
        f *= step;
        if (std::abs(step - 1) < 1e-15) {
            break;
        }
    }
    return std::exp(log_front) * f / a;
}

double student_t_test(const std::vector<double>& first, const std::vector<double>& second) {
    const auto mean_of = [](const std::vector<double>& v) {
        double sum = 0;
        for (const double x : v) {
            sum += x;
        }
        return sum / static_cast<double>(v.size());
    };
    const auto squares = [](const std::vector<double>& v, double mean) {
        double sum = 0;
        for (const double x : v) {
            sum += (x - mean) * (x - mean);
        }
        return sum;
    };
    const double m = static_cast<double>(first.size());
    const double n = static_cast<double>(second.size());
    const double mean_first = mean_of(first);
    const double mean_second = mean_of(second);
    const double df = m + n - 2;
    const double pooled = (squares(first, mean_first) + squares(second, mean_second)) / df;
    const double se = std::sqrt(pooled * (1 / m + 1 / n));
    if (!(se > 0)) {
        return mean_first == mean_second ? 1 : 0;
    }
    const double t = (mean_second - mean_first) / se;
    // P(|T| > t) for df degrees of freedom is I_{df / (df + t^2)}(df / 2, 1 / 2).
    return incomplete_beta(df / 2, 0.5, df / (df + t * t));
}

std::optional<std::size_t> best_split(const std::vector<double>& series, std::size_t begin, std::size_t end,
                                      std::size_t min_segment) {
    const std::size_t least = std::max<std::size_t>(min_segment, 2);
    if (end - begin < 2 * least) {
        return std::nullopt;
    }
    // The sums move by one point per split: it leaves the right side for the left.
    double between = 0;
    double left = 0;
    double right = 0;
    for (std::size_t i = begin; i < end; ++i) {
        for (std::size_t j = i + 1; j < end; ++j) {
            right += std::abs(series[i] - series[j]);
        }
    }
    std::optional<std::size_t> best;
    double best_value = -std::numeric_limits<double>::infinity();
    for (std::size_t split = begin + 1; split + least <= end; ++split) {
        const std::size_t moved = split - 1;
        double to_left = 0;
        double to_right = 0;
        for (std::size_t i = begin; i < moved; ++i) {
            to_left += std::abs(series[moved] - series[i]);
        }
        for (std::size_t j = moved + 1; j < end; ++j) {
            to_right += std::abs(series[moved] - series[j]);
        }
        left += to_left;
        right -= to_right;
        between += to_right - to_left;
        if (split - begin < least) {
            continue;
        }
        const double m = static_cast<double>(split - begin);
        const double n = static_cast<double>(end - split);
        const double value =
            m * n / (m + n) * (2 * between / (m * n) - left / (m * (m - 1) / 2) - right / (n * (n - 1) / 2));
        if (value > best_value) {
            best_value = value;
            best = split;
        }
    }
    return best;
}

namespace {

std::vector<double> slice(const std::vector<double>& series, std::size_t begin, std::size_t end) {
    return {series.begin() + static_cast<std::ptrdiff_t>(begin), series.begin() + static_cast<std::ptrdiff_t>(end)};
}

// The change at `index` judged on the points since `before` and up to `after`, at most a window a
// side. The split was chosen as the best of every admissible one of its stretch, so its t test's
// p-value is corrected for that choice (Bonferroni over those splits): without it, the best of
// forty splits of a steady series passes p < 0.001 several times in a hundred.
change_point judge(const std::vector<double>& series, std::size_t before, std::size_t index, std::size_t after,
                   const change_point_settings& settings) {
    const std::size_t begin = std::max(before, index > settings.window ? index - settings.window : 0);
    const std::size_t end = std::min(after, index + settings.window);
    const std::vector<double> left = slice(series, begin, index);
    const std::vector<double> right = slice(series, index, end);
    change_point c;
    c.index = index;
    if (left.size() < 2 || right.size() < 2) {
        return c;
    }
    for (const double x : left) {
        c.mean_before += x / static_cast<double>(left.size());
    }
    for (const double x : right) {
        c.mean_after += x / static_cast<double>(right.size());
    }
    c.change = c.mean_before != 0 ? c.mean_after / c.mean_before - 1 : 0;
    const std::size_t least = std::max<std::size_t>(settings.min_segment, 2);
    const std::size_t splits = end - begin >= 2 * least ? end - begin - 2 * least + 1 : 1;
    c.p_value = std::min(1.0, student_t_test(left, right) * static_cast<double>(splits));
    return c;
}

// Where between its neighbours a change lies best: the split near `index` whose two sides' means
// differ most for their sizes, m n / (m + n) (mean_left - mean_right)^2, a mean shift's likelihood.
std::size_t refine(const std::vector<double>& series, std::size_t before, std::size_t index, std::size_t after,
                   const change_point_settings& settings) {
    const std::size_t least = std::max<std::size_t>(settings.min_segment, 2);
    std::size_t best = index;
    double best_value = -1;
    const std::size_t from = std::max(before + least, index > least ? index - least : 0);
    const std::size_t to = std::min(after >= least ? after - least : 0, index + least);
    for (std::size_t split = from; split <= to; ++split) {
        const std::size_t begin = std::max(before, split > settings.window ? split - settings.window : 0);
        const std::size_t end = std::min(after, split + settings.window);
        double left = 0;
        double right = 0;
        for (std::size_t k = begin; k < split; ++k) {
            left += series[k];
        }
        for (std::size_t k = split; k < end; ++k) {
            right += series[k];
        }
        const double m = static_cast<double>(split - begin);
        const double n = static_cast<double>(end - split);
        const double gap = left / m - right / n;
        const double value = m * n / (m + n) * gap * gap;
        if (value > best_value) {
            best_value = value;
            best = split;
        }
    }
    return best;
}

bool significant(const change_point& c, const change_point_settings& settings) {
    return c.p_value < settings.max_p_value && std::abs(c.change) >= settings.min_magnitude;
}

// Splits series[begin, end) where it best divides, and each side again, down to the shortest
// segments: candidates only. Stopping at the first split that fails its test would miss a bump in
// the middle, whose first split leaves both levels on one side.
void split_stretch(const std::vector<double>& series, std::size_t begin, std::size_t end,
                   const change_point_settings& settings, std::vector<std::size_t>& found) {
    const auto split = best_split(series, begin, end, settings.min_segment);
    if (!split) {
        return;
    }
    found.push_back(*split);
    split_stretch(series, begin, *split, settings, found);
    split_stretch(series, *split, end, settings, found);
}

} // namespace

std::vector<change_point> find_change_points(const std::vector<double>& series, const change_point_settings& settings) {
    const std::size_t n = series.size();
    const std::size_t window = std::max(settings.window, 4 * std::max<std::size_t>(settings.min_segment, 2));
    std::vector<std::size_t> candidates;
    // Half-overlapping windows: a change near one window's edge lies well inside the next.
    for (std::size_t start = 0; start < n; start += window / 2) {
        split_stretch(series, start, std::min(n, start + window), settings, candidates);
        if (start + window >= n) {
            break;
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    // Judged against their neighbours, the weakest removed first, until every one left holds:
    // two windows may find one change a point or two apart, and a candidate may be no change at
    // all. Removing one changes only its neighbours' stretches, so only they are judged again.
    std::vector<change_point> kept(candidates.size());
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        kept[k].index = candidates[k];
    }
    const auto rejudge = [&](std::size_t k) {
        const std::size_t before = k > 0 ? kept[k - 1].index : 0;
        const std::size_t after = k + 1 < kept.size() ? kept[k + 1].index : n;
        kept[k] = judge(series, before, refine(series, before, kept[k].index, after, settings), after, settings);
    };
    for (std::size_t k = 0; k < kept.size(); ++k) {
        rejudge(k);
    }
    while (true) {
        // A change fails when it is not significant, or leaves too few points to a side: of two
        // changes too close together, the one with the larger p-value.
        std::vector<bool> fails(kept.size());
        for (std::size_t k = 0; k < kept.size(); ++k) {
            fails[k] = fails[k] || !significant(kept[k], settings) || kept[k].index < settings.min_segment ||
                       n - kept[k].index < settings.min_segment;
            if (k > 0 && kept[k].index - kept[k - 1].index < settings.min_segment) {
                fails[kept[k].p_value > kept[k - 1].p_value ? k : k - 1] = true;
            }
        }
        std::size_t weakest = kept.size();
        for (std::size_t k = 0; k < kept.size(); ++k) {
            if (fails[k] && (weakest == kept.size() || kept[k].p_value > kept[weakest].p_value)) {
                weakest = k;
            }
        }
        if (weakest == kept.size()) {
            return kept;
        }
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(weakest));
        if (weakest > 0) {
            rejudge(weakest - 1);
        }
        if (weakest < kept.size()) {
            rejudge(weakest);
        }
    }
}
