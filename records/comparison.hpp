// Exports of the same work side by side: a base run against one or more new runs. Per strategy
// the medians, the Hodges-Lehmann shift with its interval, the Mann-Whitney U p-value, and a
// verdict that says "equivalent" or "inconclusive" when that is what the data support.
#pragma once

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "analysis/verdict.hpp"
#include "records/results.hpp"

// Two exports that do not measure the same work (sizes, chunk, value kind), or share nothing.
class comparison_refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A verdict's words, as every reporter and the JSON say it.
constexpr const char* verdict_text(verdict v) {
    constexpr const char* words[] = {"faster", "slower", "equivalent", "inconclusive", "too few runs to test",
                                     "too few processes to decide"};
    return words[static_cast<int>(v)];
}

// The rule that judged a row: the processes' medians when both sides have enough processes, the
// sorts with a drift allowance the user gave, nothing but the sorts' shift, shown undecided, or
// (in `ab`) the rounds' paired ratios.
enum class judged_by { processes, drift, sorts, rounds };

inline constexpr std::size_t max_new_runs = 64;

struct strategy_comparison {
    std::string name;
    std::size_t run = 0; // which new run: an index into comparison::next_names
    duration_list base;  // every duration of each side
    duration_list next;
    std::int64_t base_median = 0;
    std::int64_t next_median = 0;
    std::optional<double> base_precision; // of each median, from its 95% interval; absent below six runs
    std::optional<double> next_precision;
    std::optional<double> change;  // of the medians: (new - base) / base; absent when the base median is 0
    std::optional<double> p_value; // absent with too few runs
    std::optional<double> adjusted_p_value; // Holm's, over the comparison's rows with a p-value: what decides
    std::optional<double> shift_ns; // Hodges-Lehmann estimate of new - base
    std::optional<std::pair<double, double>> shift_interval_ns;
    std::optional<double> shift;    // relative to the base median
    std::optional<std::pair<double, double>> shift_interval;
    verdict result = verdict::inconclusive;
    std::optional<std::uint64_t> runs_to_decide; // inconclusive: runs per side that would likely decide it
    bool weak = false;                           // fewer than min_runs_for_a_strong_test on a side
    judged_by rule = judged_by::sorts;            // by processes: base, next and the figures are process medians
    std::size_t base_processes = 1;
    std::size_t next_processes = 1;
    std::optional<std::uint64_t> processes_to_decide; // too few processes: how many a side would likely decide it
    std::size_t rounds = 0; // judged by rounds: the rounds paired, base and next holding their medians
    // The p-value that decides the row: its adjusted one once judged as a family, else its own.
    std::optional<double> decisive_p() const { return adjusted_p_value ? adjusted_p_value : p_value; }
    std::optional<double> round_sd; // judged by rounds: the standard deviation of their log ratios
    std::vector<double> round_log_ratios; // judged by rounds: each round's, in their order
    // Rounds of pairs: the spread of the pairs' log ratios within a round, pooled over the rounds.
    std::optional<double> pair_sd;
};

// The verdict on one strategy of two runs: over the processes' medians when both sides have at
// least min_processes_to_decide processes; otherwise over the sorts, where only a `drift`
// allowance the user knows of their machine lets a shift decide (its whole interval beyond the
// drift; equivalent as over processes), and without one the row is too few processes to decide.
strategy_comparison compare_strategies(const strategy_result& base, const strategy_result& next, double alpha,
                                       double threshold, std::optional<double> drift);

struct step_comparison {
    unsigned cpus = 0; // 0 for single runs
    std::vector<strategy_comparison> strategies; // per strategy, one row per new run
};

struct context_difference {
    std::size_t run = 0; // the new run it concerns
    std::string field;
    std::string base;
    std::string next;
};

// The fields named in `fields` ("compiler", "array_size", ...), in that order, in which two runs'
// contexts differ, for the new run `run`. A name it does not know is a fault of the caller.
std::vector<context_difference> context_differences(const run_context& base, const run_context& next,
                                                    const std::vector<const char*>& fields, std::size_t run = 0);

struct comparison {
    std::string base_name; // the files as given
    std::vector<std::string> next_names;
    run_context base_context; // of the first step
    std::vector<run_context> next_contexts;
    std::vector<context_difference> differences; // machine, compiler, build, library
    std::vector<std::string> skipped;            // what only one side measured: "only in the new run: std::sort"
    std::vector<step_comparison> steps;
    double alpha = 0.05;
    double threshold = 0.02; // a change that stays within this fraction either way is "equivalent"
    std::optional<double> drift; // a single process's verdict needs its whole interval beyond this fraction
    bool any(verdict v) const;
    std::size_t rows() const; // every strategy's row, in every step
    std::size_t tests() const; // the rows with a p-value: the family Holm's adjustment spans
    std::vector<std::string> undecided() const; // "parallel sort (inconclusive)", ...
};

// Compares `base` with each new run (its file name and contents) on what they share: the steps of
// the same CPU count (a single run counts as a step of its logical CPUs when the other side is a
// sweep) and within them the strategies of the same name; the rest is listed in `skipped`. Throws
// comparison_refused naming the field when the runs measure different work, or share nothing.
comparison compare_runs(const sweep_results& base, const std::vector<std::pair<std::string, sweep_results>>& nexts,
                        double alpha, double threshold, std::optional<double> drift = std::nullopt);

// Judges a row on `p_value` (its own or its adjusted one) and the shift and interval it holds.
void judge_row(strategy_comparison& s, double p_value, double alpha, double threshold);

// Every row of `c` with a p-value judged again on its Holm-adjusted p-value, so that `alpha` is
// the chance of any false "slower" or "faster" in the whole comparison, not in each row.
void judge_as_family(comparison& c);

// The verdict on one strategy's two samples, with everything it rests on.
strategy_comparison compare_samples(const std::string& name, const duration_list& base, const duration_list& next,
                                    double alpha, double threshold);

