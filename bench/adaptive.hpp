// Runs until precise: a strategy's sorts come in batches until the confidence interval of its
// median is narrow enough, it has had the most sorts allowed, or the run's time is up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "bench/config.hpp"
#include "common/duration.hpp"

struct adaptive_outcome {
    std::vector<std::uint64_t> batches; // the sorts asked of each batch, the first (the minimum) included
    bool reached = false;               // the last precision was at most the target
};

// Asks run_batch(min_runs) first, then run_batch(batch) (fewer at the cap) for as long as the
// median of `times`, which run_batch appends to, is less precise than goal.target, `times` holds
// fewer than goal.max_runs durations, and `clock` is less than goal.max_time_ns past run_start.
// Nothing here is timed: the checks run between batches. `after_batch` hears of each finished one.
adaptive_outcome measure_until_precise(const duration_list& times, std::uint64_t min_runs, std::uint64_t batch,
                                       const precision_goal& goal, duration_ns run_start,
                                       const std::function<duration_ns()>& clock,
                                       const std::function<void(std::uint64_t)>& run_batch,
                                       const std::function<void()>& after_batch = {});

// The share of a run's time limit that one of `phases_left` phases (this one included) may spend,
// given what the run has spent so far: what is left, split evenly, so that the first phase short of
// its target cannot take the time of the ones after it. A phase that finishes early leaves its
// unused share to the later ones. Absent without a limit; at least 1 ns (the minimum batch runs).
std::optional<std::int64_t> time_share(const precision_goal& goal, duration_ns spent, std::size_t phases_left);
