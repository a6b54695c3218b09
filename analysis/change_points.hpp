// Where a series of medians changed level: E-divisive means (Matteson and James, 2014) proposes
// the split that best separates a stretch of the series, and a Student t test of the two sides
// decides whether it is a change, as Apache Otava (formerly Hunter) does. Pure: no records.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

struct change_point_settings {
    double max_p_value = 0.001;  // a split is a change when its t test's p-value is below this
    std::size_t min_segment = 5; // points on each side of a change at least
    double min_magnitude = 0.0;  // and the relative change of the means at least this
    std::size_t window = 50;     // splits are sought in windows of this many points, half overlapping
};

struct change_point {
    std::size_t index = 0;   // the first point after the change
    double mean_before = 0;  // of the points since the previous change (at most a window of them)
    double mean_after = 0;   // up to the next change (at most a window)
    double change = 0;       // mean_after / mean_before - 1
    double p_value = 1;      // of the t test of the two sides, corrected for the choice among the splits
};

// Finds the change points of `series`, in index order.
std::vector<change_point> find_change_points(const std::vector<double>& series, const change_point_settings& settings);

// The best split of series[begin, end) by that statistic, each side at least `min_segment`
// points; nothing when the stretch is too short.
std::optional<std::size_t> best_split(const std::vector<double>& series, std::size_t begin, std::size_t end,
                                      std::size_t min_segment);

// The two-sided p-value of Student's t test with pooled variance (SciPy's ttest_ind) between two
// samples of at least two values each; 1 when both have no spread and the same mean, 0 when no spread but means differ.
double student_t_test(const std::vector<double>& first, const std::vector<double>& second);

// The regularized incomplete beta function I_x(a, b), for the t distribution.
double incomplete_beta(double a, double b, double x);
