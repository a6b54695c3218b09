// The interleaved comparison: its sides checked and tried, its rounds in their orders, its looks,
// its report and gate.
#include "cli/ab_mode.hpp"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <tuple>

#include "bench/progress.hpp"
#include "cli/ab_round.hpp"
#include "cli/ab_sides.hpp"
#include "cli/child_process.hpp"
#include "cli/compare_mode.hpp"
#include "cli/step_process.hpp"
#include "cli/sweep.hpp"
#include "common/clock.hpp"
#include "common/error.hpp"
#include "machine/cpus.hpp"
#include "records/strategy.hpp"
#include "report/ab_report.hpp"
#include "report/exports.hpp"

std::vector<bool> alternating_starts(unsigned rounds, std::uint64_t seed) {
    std::vector<bool> new_first(rounds);
    const bool first = std::mt19937_64(seed)() % 2 == 1;
    for (unsigned r = 0; r < rounds; ++r) {
        new_first[r] = (r % 2 == 1) != first;
    }
    return new_first;
}

std::vector<std::pair<std::size_t, std::size_t>> environment_pads(unsigned rounds, std::uint64_t seed) {
    // A generator of its own, so that the pads leave the starting sides as the seed drew them.
    std::mt19937_64 generator(seed ^ 0x9e3779b97f4a7c15ull);
    std::vector<std::pair<std::size_t, std::size_t>> pads(rounds);
    for (auto& [base, next] : pads) {
        base = generator() % (max_environment_pad + 1);
        next = generator() % (max_environment_pad + 1);
    }
    return pads;
}

namespace {

// Each side's options as given, judged by its own program without measuring (--validate): a size
// or a count it would refuse is refused now, not in round 1. An older program that knows no
// --validate, or a wrapper that fails it otherwise than with the status of bad options (2), is left
// to the trial run. The status to end with, or 0.
int validate_sides(const ab_options& opts) {
    progress_line quiet(nullptr);
    for (const side_id id : {side_id::base, side_id::next}) {
        const ab_side& side = side_of(opts, id);
        std::vector<std::string> args = side.arguments;
        args.push_back("--validate");
        const step_outcome checked =
            run_step_process(side.program, args, allowed_cpus(), -1, 0, quiet, trial_timeout(opts));
        if (checked.interrupted_by != 0) {
            print_error(std::cerr, "interrupted");
            return checked.run_status();
        }
        if (checked.exit_code == 2 && checked.failure.find("--validate") == std::string::npos) {
            print_error(std::cerr, std::string("the ") + side_name(id) + " side's options are refused (" +
                                       side_text(side) + "): " + checked.failure);
            return 2;
        }
    }
    return 0;
}

// Each side once at the smallest size: its program takes its options and writes a record this
// program reads. Then whether both answer units: if so, `paired` takes the strategies both
// records hold, in the base's order; if not, the one that does not is said in a line and the
// rounds run each side as a whole process. The status to end with, or 0.
int try_sides(const ab_options& opts, const campaign& run, std::vector<std::string>& paired) {
    if (const int refused = validate_sides(opts); refused != 0) {
        return refused;
    }
    progress_line quiet(nullptr);
    std::vector<std::string> names[2];
    for (const side_id id : {side_id::base, side_id::next}) {
        const ab_side& side = side_of(opts, id);
        const side_outcome trial = run_side(side, trial_arguments(side.arguments),
                                            run.file(std::string("trial-") + side_name(id) + ".json"),
                                            quiet, trial_timeout(opts));
        if (trial.interrupted_by != 0) {
            print_error(std::cerr, "interrupted");
            return trial.run_status();
        }
        if (!trial.ok) {
            print_error(std::cerr, std::string("the ") + side_name(id) + " side cannot run (" + side_text(side) +
                                       "): " + trial.failure);
            return 2;
        }
        for (const auto& s : trial.side.record.strategies) {
            names[id == side_id::base ? 0 : 1].push_back(s.name);
        }
    }
    for (const side_id id : {side_id::base, side_id::next}) {
        int interrupted = 0;
        const bool answers = answers_units(side_of(opts, id), run.file(std::string("probe-") + side_name(id) + ".json"),
                                           trial_timeout(opts), interrupted);
        if (interrupted != 0) {
            print_error(std::cerr, "interrupted");
            return status_after_signal(interrupted);
        }
        if (!answers) {
            std::cerr << "ab: the " << side_name(id) << " side does not answer units of protocol version "
                      << unit_protocol_version << " (an older build?): each round runs each side once as a whole process"
                      << std::endl;
            return 0;
        }
    }
    for (const auto& name : names[0]) {
        if (std::find(names[1].begin(), names[1].end(), name) != names[1].end()) {
            paired.push_back(name);
        }
    }
    return 0;
}

// Every round, both sides in the round's own order (pairs of the `paired_strategies`' units; with
// none, each side once whole), until all are done or a side fails; the finished rounds land in
// `ab`. With --max-time, rounds go on until a look finds every strategy decided, the time is
// spent or the last look is taken; each look's verdicts land in `ab.judged`.
// The status to end with.
int run_rounds(const ab_options& opts, campaign& run, ab_results& ab, const std::vector<std::string>& paired_strategies) {
    const bool paired = !paired_strategies.empty();
    const bool sequential = opts.max_time_ns > 0;
    const std::vector<std::size_t> looks = sequential ? look_rounds(opts.gate.alpha, measured_strategy_count) : std::vector<std::size_t>{};
    const unsigned planned = sequential ? static_cast<unsigned>(looks.back()) : opts.rounds;
    ab.rounds_planned = planned;
    const std::int64_t began = now_ns();
    progress_line& progress = run.progress();
    // What the line counts: each side's run, or each pair once the first round has shown how many.
    std::uint64_t per_round = paired ? 0 : 2;
    progress.restart(per_round * (sequential ? looks.front() : planned));
    // Each round runs both sides, so that whatever the machine does over the minutes falls on both
    // alike and cancels in the round's ratio; which goes first alternates, so that going first
    // favours neither side.
    const std::vector<bool> new_first = alternating_starts(planned, opts.seed);
    // Where a process's stack starts moves with its environment's size: a pad of its own each round
    // makes that an effect that averages out over the rounds, not one that favours a side.
    const auto pads = environment_pads(planned, opts.seed);
    // The strategies' order in each round of pairs, shuffled apart from the starts and the pads.
    const auto strategy_orders = round_orders(paired_strategies.size(), std::max(planned, 2u), opts.seed ^ 0x5bd1e995u);
    std::int64_t longest_ns = 0; // the longest run of a side so far
    for (std::size_t r = 0; r < new_first.size(); ++r) {
        // Another round only while one more as long as the longest side's twice fits the time.
        if (sequential && now_ns() - began + 2 * longest_ns > opts.max_time_ns) {
            break;
        }
        const unsigned until = sequential ? static_cast<unsigned>(looks.at(ab.looks.size())) : planned;
        ab_round round;
        round.new_first = new_first[r];
        std::tie(round.base_pad, round.next_pad) = pads[r];
        const std::int64_t limit = side_timeout(opts, longest_ns); // from the rounds before this one
        const std::string prefix = "round " + std::to_string(r + 1) + "/" + std::to_string(until) + ", ";
        const std::int64_t started = now_ns();
        const std::optional<round_failure> failed =
            paired ? run_pairs(opts, run, r, prefix, paired_strategies, strategy_orders[r], round, limit)
                   : run_whole_sides(opts, run, r, prefix, round, limit, longest_ns);
        progress.erase();
        if (failed) {
            ab.failure = "round " + std::to_string(r + 1) + ", " + failed->failure;
            return campaign::failed(ab.failure, failed->outcome);
        }
        if (paired) {
            longest_ns = std::max(longest_ns, (now_ns() - started) / 2); // half a round: a side's share
        }
        if (!run.terminal()) {
            std::cerr << round_line(round, r + 1, until) << std::endl;
        }
        ab.rounds.push_back(std::move(round));
        if (per_round == 0) {
            per_round = ab.rounds.back().pairs.size();
            progress.restart(per_round * (until - ab.rounds.size()));
        }
        if (sequential && ab.rounds.size() == until) {
            ab.looks.push_back({until, look_alpha(opts.gate.alpha, ab.looks.size())});
            if (take_look(ab.rounds, ab.looks.back(), opts.gate.threshold, ab.judged) || ab.looks.size() == looks.size()) {
                break;
            }
            progress.restart(per_round * (looks[ab.looks.size()] - until));
        }
    }
    return EXIT_SUCCESS;
}

// The verdicts over the rounds run: a fixed number's at --alpha; a sequential run's from its looks,
// with one more look over the rounds run since the last, at its own share.
void judge_rounds(const ab_options& opts, ab_results& ab) {
    if (opts.max_time_ns == 0) {
        ab.judged = compare_rounds(ab.rounds, opts.gate.alpha, opts.gate.threshold);
        return;
    }
    if (!ab.rounds.empty() && (ab.looks.empty() || ab.looks.back().rounds != ab.rounds.size())) {
        ab.looks.push_back({ab.rounds.size(), look_alpha(opts.gate.alpha, ab.looks.size())});
        take_look(ab.rounds, ab.looks.back(), opts.gate.threshold, ab.judged);
    }
    ab.judged.alpha = opts.gate.alpha; // the comparison's, of which each look spent its share
}

} // namespace

int run_ab(const ab_options& opts) {
    campaign run("ab");
    std::vector<std::string> paired; // the strategies of rounds of pairs; none: rounds of processes
    if (const int refused = try_sides(opts, run, paired); refused != 0) {
        return refused;
    }
    ab_results ab;
    ab.base = opts.base;
    ab.next = opts.next;
    ab.rounds_planned = opts.rounds;
    ab.seed = opts.seed;
    const int ended = run_rounds(opts, run, ab, paired);
    judge_rounds(opts, ab);
    if (ended == EXIT_SUCCESS) {
        // Standard output holds an export written to "-" alone.
        print_ab(ab, opts.exports.to_stdout() ? std::cerr : std::cout);
    }
    write_exports(opts.exports, ab);
    if (ended != EXIT_SUCCESS) {
        return ended;
    }
    return gate_status(ab.judged, opts.gate.fail_on_slower, opts.gate.allow_inconclusive,
                       opts.max_time_ns > 0 ? "more time decides them: --max-time" : "more rounds decide them: --rounds");
}
