// An interleaved comparison of two sides (two builds, or one build with two settings): rounds in
// which each side ran once as a fresh process, in a shuffled order, and the verdicts over the
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

// A round: both sides' records, as read and as the sides wrote them.
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
};

struct ab_results {
    ab_side base;
    ab_side next;
    unsigned rounds_planned = 0;
    std::uint64_t seed = 1;
    std::vector<ab_round> rounds; // those both sides completed
    std::string failure;          // why the run ended before its rounds; empty when it did not
    comparison judged;            // over `rounds`: one step, a row per strategy both sides report
    bool complete() const { return failure.empty(); }
    // Both sides the same program with the same options: an A/A run, which measures the noise.
    bool same_sides() const { return base.program == next.program && base.arguments == next.arguments; }
};

// A difference in what the sides were set to measure (size, values, chunk), not in their builds.
bool is_run_setting(const context_difference& d);

// Per strategy both sides report (in the base's order), each round's log ratio of the new side's
// median to the base's, judged by the exact signed-rank test: the Hodges-Lehmann estimate with
// its interval, relative (exp - 1), the p-value and compare's verdict rules. The row's medians
// are each side's median over the rounds, its `base` and `next` the per-round medians. Settings
// that differ are listed, never refused; a strategy only one side reports is not compared.
comparison compare_rounds(const std::vector<ab_round>& rounds, double alpha, double threshold);
