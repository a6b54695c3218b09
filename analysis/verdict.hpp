// The verdict of two samples: is the second one slower, faster, the same within a threshold, or
// can the data not say? Pure: it judges a shift and its interval, nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// slower / faster: p < alpha and the whole shift interval beyond +threshold / -threshold;
// equivalent: the whole interval within +-threshold; otherwise inconclusive.
// too_few_processes: a side ran in fewer than min_processes_to_decide processes, whose sorts
// cannot show the drift between processes.
enum class verdict { faster, slower, equivalent, inconclusive, too_few_runs, too_few_processes };

inline constexpr std::size_t min_runs_to_test = 5;
// Both sides need this many processes before their process medians are compared.
inline constexpr std::size_t min_processes_to_decide = min_runs_to_test;
// Below this many runs on a side the test is weak (Google Benchmark's compare.py warns there too).
inline constexpr std::size_t min_runs_for_a_strong_test = 9;

struct shift_verdict {
    verdict result = verdict::inconclusive;
    std::optional<std::uint64_t> runs_to_decide; // inconclusive: runs per side that would likely decide it
};

// Judges a relative shift with its interval and the p-value of the rank test. `runs` is the larger
// side's count: an inconclusive verdict says how many runs would likely decide it, since the
// interval narrows with the square root of the runs.
shift_verdict judge_shift(double p_value, double shift, std::pair<double, double> interval, double alpha,
                          double threshold, std::size_t runs);

// Holm's step-down adjustment of a family of p-values, in their order: the smallest times m, the
// next times m - 1 and so on, each at least the one before it and at most 1. Declaring every test
// whose adjusted p-value is below alpha keeps the chance of any false declaration in the family at
// most alpha, whatever the tests' dependence. O(m log m).
std::vector<double> holm_adjusted(const std::vector<double>& p_values);
