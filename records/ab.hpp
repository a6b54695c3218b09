// An interleaved comparison of two sides (two builds, or one build with two settings): rounds in
// which each side ran once as a fresh process, the side that starts alternating, and the verdicts over the
// rounds, each round's ratio of the sides' medians paired within it so that the machine's drift
// over minutes cancels.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/comparison.hpp"
#include "records/results.hpp"

// One side as the user set it: the program and the arguments every one of its runs gets (its
// export's path is added per run).
struct ab_side {
    std::string program;
    std::vector<std::string> arguments;
    std::string options_text; // --base-options / --new-options as given
};

// Within a round of workers: one unit of one strategy on each side, back to back on the same
// arrays; each side's figure is its unit's median.
struct ab_pair {
    std::string strategy;
    std::uint64_t array = 0; // the smallest identity of the unit's arrays
    bool new_first = false;
    std::int64_t base_ns = 0;
    std::int64_t next_ns = 0;
};

// A round: both sides' records, as read and as the sides wrote them, and, when the sides ran as
// workers, the pairs (empty when each side ran once as a whole process).
struct ab_round {
    bool new_first = false;
    // The bytes each side's environment was padded by this round, moving where its stack starts.
    std::size_t base_pad = 0;
    std::size_t next_pad = 0;
    benchmark_results base;
    benchmark_results next;
    // Each side's record in the order it wrote it, shared rather than copied with the round, and
    // held by pointer so that the records' readers alone compile the JSON library.
    std::shared_ptr<const nlohmann::ordered_json> base_record;
    std::shared_ptr<const nlohmann::ordered_json> next_record;
    std::vector<ab_pair> pairs;
};

// A look of `ab --max-time`: after `rounds` rounds, the strategies are judged at `alpha`, its share
// of the comparison's.
struct ab_look {
    std::size_t rounds = 0;
    double alpha = 0;
};

struct ab_results {
    ab_side base;
    ab_side next;
    unsigned rounds_planned = 0;
    std::uint64_t seed = 1;
    std::vector<ab_round> rounds; // those both sides completed
    std::string failure;          // why the run ended before its rounds; empty when it did not
    comparison judged;            // over `rounds`: one step, a row per strategy both sides report
    std::vector<ab_look> looks;   // --max-time: the looks taken; empty for a fixed number of rounds
    bool complete() const { return failure.empty(); }
    // Both sides the same program with the same options: an A/A run, which measures the noise.
    bool same_sides() const { return base.program == next.program && base.arguments == next.arguments; }
    // The rounds paired the sides' units (both sides answered units), rather than ran each side whole.
    bool paired() const { return !rounds.empty() && !rounds.front().pairs.empty(); }
};

// A difference in what the sides were set to measure (size, values, chunk), not in their builds.
bool is_run_setting(const context_difference& d);

// Per strategy both sides report (in the base's order), each round's log ratio of the new side's
// median to the base's (in a round of pairs, the median of its pairs' log ratios, each round's
// `base` and `next` the medians of its pairs' units), judged by the exact signed-rank test: the Hodges-Lehmann estimate with
// its interval, relative (exp - 1), the p-value and compare's verdict rules. The row's medians
// are each side's median over the rounds, its `base` and `next` the per-round medians. Settings
// that differ are listed, never refused; a strategy only one side reports is not compared.
comparison compare_rounds(const std::vector<ab_round>& rounds, double alpha, double threshold);

// The share of `alpha` look `index` (from 0) spends: alpha 6 / (pi^2 (index + 1)^2), so that all
// looks together spend less than alpha however many are taken, and a false call anywhere in a
// sequential comparison stays below alpha whatever round it stops at (a union over the looks, each
// judged as a family by Holm's adjustment).
double look_alpha(double alpha, std::size_t index);

// The rounds of the looks of `ab --max-time` for `strategies` strategies at `alpha`: the first at
// the fewest rounds whose smallest p-value, so adjusted, can reach the first look's share, each next
// at half again as many, up to max_ab_rounds.
std::vector<std::size_t> look_rounds(double alpha, std::size_t strategies);

// Takes a look over every round so far at its share `look.alpha`: a strategy decided there
// (slower, faster or equivalent) keeps that row from then on; the others take this look's. True
// once every strategy is decided. `judged` starts empty.
bool take_look(const std::vector<ab_round>& rounds, const ab_look& look, double threshold, comparison& judged);
