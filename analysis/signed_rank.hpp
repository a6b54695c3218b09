// The Wilcoxon signed-rank test of paired differences, exactly: its null distribution, its
// two-sided p-value, and the Hodges-Lehmann estimate (the median of the Walsh averages) with its
// distribution-free interval. Pure: no records, no printing.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

// P(W+ = w) for w = 0 .. n(n+1)/2 under the null hypothesis, for n differences without ties or
// zeros: each rank's sign a fair coin. Doubles halved at every step, so that n = 1000 neither
// overflows nor loses the tails' order of magnitude. O(n^3 / 6).
std::vector<double> signed_rank_distribution(std::size_t n);

struct signed_rank_result {
    std::size_t n = 0;   // the differences that are not zero
    double w_plus = 0;   // the sum of the ranks of the positive differences (ties share their ranks)
    double p_value = 1;  // two-sided, from the exact distribution
    double estimate = 0; // Hodges-Lehmann: the median of the Walsh averages (d_i + d_j) / 2, i <= j
    // [A(k), A(M + 1 - k)] of the M sorted Walsh averages, k the largest with P(W+ <= k - 1) <=
    // alpha / 2; absent when even k = 1 is too wide a bet, as with few differences.
    std::optional<std::pair<double, double>> interval;
};

// The test of `differences` (zeros are dropped, as Wilcoxon's test does) at level `alpha`.
signed_rank_result signed_rank_test(std::vector<double> differences, double alpha);

// The smallest two-sided p-value n differences can give, 2 / 2^n: an alpha at or below it can
// never be reached.
double smallest_p_value(std::size_t n);

// The fewest differences whose smallest p-value lies below `alpha`.
std::size_t differences_for_alpha(double alpha);
