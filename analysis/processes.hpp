// The process as the unit of repetition. The sorts of one process share its memory placement, the
// machine's state of that minute and the allocator's history, so they vary less among themselves
// than processes do: an interval over one process's sorts cannot see the drift between processes.
// Estimates over processes, the two variance components of Kalibera and Jones ("Rigorous
// benchmarking in reasonable time", 2013) and the design they suggest. Pure: no records, no printing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "analysis/stats.hpp"
#include "common/duration.hpp"

// Each process's median, in the processes' order.
duration_list process_medians(const std::vector<duration_list>& processes);

// The estimate over processes: the median of their medians, and its distribution-free interval
// from the order statistics of those medians (none below min_runs_for_interval processes).
struct process_estimate {
    std::int64_t median = 0;
    std::optional<median_interval> interval;
    std::size_t processes = 0;
};
process_estimate estimate_over_processes(const std::vector<duration_list>& processes);
// The same from the processes' medians alone.
process_estimate estimate_over_medians(duration_list medians);

// Kalibera and Jones' estimators for two levels, with n processes of r_j sorts:
//   within  S1^2 = sum_j sum_k (y_jk - mean_j)^2 / sum_j (r_j - 1)
//   between T2^2 = S2^2 - S1^2 * mean_j(1 / r_j), S2^2 the sample variance of the process means,
// both as coefficients of variation of the mean of the process means. T2^2 comes out negative when
// the processes' means agree better than their sorts' spread predicts; it is then shown as 0.
struct variance_components {
    double mean = 0;
    double within_cv = 0;
    double between_cv = 0;        // 0 when the estimate is negative
    double between_variance = 0;  // T2^2 as estimated, possibly negative
    bool between_negative = false;
    double sorts_per_process = 0; // the harmonic mean of the r_j the estimates rest on
};
// Needs at least two processes, each with at least two sorts, and a positive mean.
std::optional<variance_components> components_of(const std::vector<duration_list>& processes);

// The sorts per process that reach a precision in the least time, where a process costs
// `process_cost` beyond its sorts and a sort `sort_cost`: ceil(sqrt((process_cost / sort_cost) *
// within^2 / between^2)), at least 1. Absent when no between-process variation was found (more
// sorts in one process are then always cheaper) or a cost is not positive.
std::optional<std::uint64_t> optimal_sorts_per_process(const variance_components& c, double process_cost,
                                                       double sort_cost);

// The coefficient of variation of the processes' medians: how much a process's median moves from
// one process to the next, which is what the interval over processes narrows with. Needs two
// processes and a positive mean of their medians.
std::optional<double> median_cv(const std::vector<duration_list>& processes);

// The processes whose median-of-medians interval would likely be within `target` when process
// medians vary by `cv`: the median of K of them varies by pi/2 cv^2 / K, so K = ceil((1.96 /
// target)^2 * pi/2 * cv^2), at least min_runs_for_interval.
std::uint64_t processes_for_cv(double cv, double target);

// The share of the spread within processes that is which array a sort sorted rather than noise,
// where every process sorts the same arrays: a one-way analysis of variance of each sort's
// deviation from its process's mean, grouped by array (`arrays` beside `processes`), over the
// arrays sorted at least twice; the array component (MS_array - MS_error) / n0, at least 0, over
// itself plus MS_error. Nothing without two such arrays and a sort more than there are arrays.
std::optional<double> input_share(const std::vector<duration_list>& processes,
                                  const std::vector<std::vector<std::uint64_t>>& arrays);

// One resample of the two-level bootstrap: the processes drawn with replacement first, then within
// each drawn process as many sorts as it has, drawn with replacement from that process alone.
std::vector<duration_list> resample_processes(const std::vector<duration_list>& processes,
                                              std::mt19937_64& generator);

// The 95% percentile interval of median-of-medians(numerator) / median-of-medians(denominator)
// over `resamples` two-level resamples of both sides from a generator seeded with `seed`. Nothing
// when a side has fewer than two processes, a process no sort, or a resampled median is 0.
std::optional<std::pair<double, double>> two_level_bootstrap_ratio(const std::vector<duration_list>& numerator,
                                                                   const std::vector<duration_list>& denominator,
                                                                   std::uint64_t seed, int resamples = 10'000);
