// Batches of sorts until a median is known to the precision asked, the sorts allowed or the time run out.
#include "bench/adaptive.hpp"

#include <algorithm>

#include "analysis/summary.hpp"

adaptive_outcome measure_until_precise(const duration_list& times, std::uint64_t min_runs, std::uint64_t batch,
                                       const precision_goal& goal, duration_ns run_start,
                                       const std::function<duration_ns()>& clock,
                                       const std::function<void(std::uint64_t)>& run_batch,
                                       const std::function<void()>& after_batch) {
    adaptive_outcome outcome;
    std::uint64_t ask = min_runs;
    for (;;) {
        outcome.batches.push_back(ask);
        run_batch(ask);
        if (after_batch) {
            after_batch();
        }
        const duration_summary summary = summarize(times);
        outcome.reached = summary.interval && summary.interval->precision <= goal.target;
        if (outcome.reached || times.size() >= goal.max_runs ||
            (goal.max_time_ns && clock() - run_start >= *goal.max_time_ns)) {
            return outcome;
        }
        ask = std::min<std::uint64_t>(std::max<std::uint64_t>(1, batch), goal.max_runs - times.size());
    }
}

std::optional<std::int64_t> time_share(const precision_goal& goal, duration_ns spent, std::size_t phases_left) {
    if (!goal.max_time_ns) {
        return std::nullopt;
    }
    const std::int64_t left = *goal.max_time_ns - spent;
    return std::max<std::int64_t>(1, left / static_cast<std::int64_t>(std::max<std::size_t>(1, phases_left)));
}
