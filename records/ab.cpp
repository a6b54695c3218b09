// An interleaved comparison's rounds and pairs judged over the rounds, with the looks of --max-time.
#include "records/ab.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "analysis/signed_rank.hpp"
#include "analysis/stats.hpp"

bool is_run_setting(const context_difference& d) {
    return d.field == "array_size" || d.field == "values" || d.field == "chunk_size";
}

namespace {

const strategy_result* find_strategy(const benchmark_results& run, const std::string& name) {
    const auto at = std::find_if(run.strategies.begin(), run.strategies.end(),
                                 [&](const strategy_result& s) { return s.name == name; });
    return at == run.strategies.end() ? nullptr : &*at;
}

// One strategy over the rounds in which both sides report it with a median above zero.
strategy_comparison judge_strategy(const std::string& name, const std::vector<ab_round>& rounds, double alpha,
                                   double threshold) {
    strategy_comparison row;
    row.name = name;
    row.rule = judged_by::rounds;
    std::vector<double> log_ratios;
    double pair_squares = 0; // about each round's mean, pooled over the rounds of pairs
    std::size_t pair_freedom = 0;
    for (const auto& round : rounds) {
        if (!round.pairs.empty()) {
            duration_list base, next;
            std::vector<double> pairs;
            for (const auto& pair : round.pairs) {
                if (pair.strategy == name && pair.base_ns > 0 && pair.next_ns > 0) {
                    base.push_back(pair.base_ns);
                    next.push_back(pair.next_ns);
                    pairs.push_back(std::log(static_cast<double>(pair.next_ns) / static_cast<double>(pair.base_ns)));
                }
            }
            if (pairs.empty()) {
                continue;
            }
            row.base.push_back(median_of(base));
            row.next.push_back(median_of(next));
            log_ratios.push_back(median_of(pairs));
            const double mean = std::accumulate(pairs.begin(), pairs.end(), 0.0) / static_cast<double>(pairs.size());
            for (const double r : pairs) {
                pair_squares += (r - mean) * (r - mean);
            }
            pair_freedom += pairs.size() - 1;
            continue;
        }
        const strategy_result* b = find_strategy(round.base, name);
        const strategy_result* n = find_strategy(round.next, name);
        if (b == nullptr || n == nullptr || b->summary.median <= 0 || n->summary.median <= 0) {
            continue;
        }
        row.base.push_back(b->summary.median);
        row.next.push_back(n->summary.median);
        log_ratios.push_back(std::log(static_cast<double>(n->summary.median) / static_cast<double>(b->summary.median)));
    }
    if (pair_freedom > 0) {
        row.pair_sd = std::sqrt(pair_squares / static_cast<double>(pair_freedom));
    }
    row.rounds = log_ratios.size();
    row.round_log_ratios = log_ratios;
    if (log_ratios.size() >= 2) {
        double mean = 0;
        for (const double r : log_ratios) {
            mean += r / static_cast<double>(log_ratios.size());
        }
        double squares = 0;
        for (const double r : log_ratios) {
            squares += (r - mean) * (r - mean);
        }
        row.round_sd = std::sqrt(squares / static_cast<double>(log_ratios.size() - 1));
    }
    if (log_ratios.empty()) {
        row.result = verdict::too_few_runs;
        return row;
    }
    row.base_median = median_of(row.base);
    row.next_median = median_of(row.next);
    row.change = static_cast<double>(row.next_median - row.base_median) / static_cast<double>(row.base_median);
    const signed_rank_result test = signed_rank_test(log_ratios, alpha);
    const auto relative = [](double log_ratio) { return std::expm1(log_ratio); };
    row.shift = relative(test.estimate);
    row.shift_ns = *row.shift * static_cast<double>(row.base_median);
    if (test.interval) {
        row.shift_interval = std::pair{relative(test.interval->first), relative(test.interval->second)};
        row.shift_interval_ns = std::pair{row.shift_interval->first * static_cast<double>(row.base_median),
                                          row.shift_interval->second * static_cast<double>(row.base_median)};
    }
    if (row.rounds < differences_for_alpha(alpha)) {
        row.result = verdict::too_few_runs; // no p-value of so few rounds reaches alpha
        return row;
    }
    // All rounds alike (every ratio exactly 1) leaves nothing to test: the sides are the same.
    row.p_value = test.n == 0 ? 1.0 : test.p_value;
    if (!row.shift_interval) {
        row.shift_interval = std::pair{0.0, 0.0};
        row.shift_interval_ns = std::pair{0.0, 0.0};
    }
    judge_row(row, *row.p_value, alpha, threshold);
    return row;
}

} // namespace

double look_alpha(double alpha, std::size_t index) {
    const double j = static_cast<double>(index + 1);
    return alpha * 6 / (std::numbers::pi * std::numbers::pi * j * j);
}

std::vector<std::size_t> look_rounds(double alpha, std::size_t strategies) {
    std::vector<std::size_t> rounds;
    std::size_t n = std::max<std::size_t>(min_ab_rounds, differences_for_alpha(look_alpha(alpha, 0) /
                                                                              static_cast<double>(strategies)));
    for (; n <= max_ab_rounds; n = (3 * n + 1) / 2) {
        rounds.push_back(n);
    }
    return rounds;
}

bool take_look(const std::vector<ab_round>& rounds, const ab_look& look, double threshold, comparison& judged) {
    comparison now = compare_rounds(rounds, look.alpha, threshold);
    const auto decided = [](const strategy_comparison& s) {
        return s.result == verdict::slower || s.result == verdict::faster || s.result == verdict::equivalent;
    };
    if (!judged.steps.empty()) {
        for (auto& row : now.steps.at(0).strategies) {
            for (const auto& kept : judged.steps.at(0).strategies) {
                if (kept.name == row.name && decided(kept)) {
                    row = kept;
                }
            }
        }
    }
    judged = std::move(now);
    return !judged.steps.empty() && !judged.steps[0].strategies.empty() &&
           std::all_of(judged.steps[0].strategies.begin(), judged.steps[0].strategies.end(), decided);
}

comparison compare_rounds(const std::vector<ab_round>& rounds, double alpha, double threshold) {
    comparison c;
    c.alpha = alpha;
    c.threshold = threshold;
    if (rounds.empty()) {
        return c;
    }
    const benchmark_results& base = rounds.front().base;
    const benchmark_results& next = rounds.front().next;
    c.base_context = base.context;
    c.next_contexts = {next.context};
    // Everything in which the sides' first records differ: the settings first, then the build.
    c.differences = context_differences(base.context, next.context,
                                        {"array_size", "values", "chunk_size", "run_count", "compiler", "build_type",
                                         "program_version", "source_revision", "tbb_version"});
    step_comparison step;
    for (const auto& s : base.strategies) {
        if (find_strategy(next, s.name) == nullptr) {
            c.skipped.push_back("only in the base: " + s.name);
            continue;
        }
        step.strategies.push_back(judge_strategy(s.name, rounds, alpha, threshold));
    }
    for (const auto& s : next.strategies) {
        if (find_strategy(base, s.name) == nullptr) {
            c.skipped.push_back("only in the new side: " + s.name);
        }
    }
    c.steps.push_back(std::move(step));
    judge_as_family(c);
    return c;
}
