// `ab`: the sides' options, the verdicts over rounds, and whole runs with sides that fail, stall,
// are interrupted or write what this program cannot read.
#include <gtest/gtest.h>

#include <chrono>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "analysis/signed_rank.hpp"
#include "cli/ab_sides.hpp"
#include "cli/compare_mode.hpp"
#include "cli/ab_mode.hpp"
#include "machine/cpus.hpp"
#include "process.hpp"
#include "records/ab.hpp"
#include "report/ab_report.hpp"
#include "report/comparison_report.hpp"

namespace fs = std::filesystem;

namespace {

using words = std::vector<std::string>;

// A round whose sides report one sort per strategy, at these medians.
ab_round round_of(const std::vector<std::pair<std::string, std::int64_t>>& base,
                  const std::vector<std::pair<std::string, std::int64_t>>& next) {
    const auto run = [](const std::vector<std::pair<std::string, std::int64_t>>& medians) {
        std::vector<strategy_result> strategies;
        for (const auto& [name, median] : medians) {
            strategies.push_back(make_strategy(name, {median}));
        }
        benchmark_results run;
        run.context.array_size = 1000;
        run.context.chunk_size = 100;
        run.strategies = std::move(strategies);
        return run;
    };
    ab_round round;
    round.base = run(base);
    round.next = run(next);
    return round;
}

// Rounds of one strategy whose new side's median is the base's times each ratio.
std::vector<ab_round> rounds_of_ratios(const std::vector<double>& ratios) {
    std::vector<ab_round> rounds;
    for (const double ratio : ratios) {
        rounds.push_back(round_of({{"parallel sort", 100'000'000}},
                                  {{"parallel sort", std::llround(100'000'000 * ratio)}}));
    }
    return rounds;
}

// An executable shell script in `dir`.
std::string script(const scratch_dir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.file(name);
    write_text(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0700);
    return path;
}

process_result ab(const std::vector<std::string>& more) { return run_process(bench_binary(), with({"ab"}, more)); }

} // namespace

TEST(AbSides, OptionsAreCutIntoWordsAsAShellCutsThem) {
    const struct {
        const char* text;
        words expected;
    } cases[] = {
        {"", {}},
        {"  --chunk   2000 ", {"--chunk", "2000"}},
        {"--label 'two words' --x=\"a \\\"b\\\"\"", {"--label", "two words", "--x=a \"b\""}},
        {"a\\ b 'c'd\"e\"", {"a b", "cde"}},
        {"''", {""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split_words(c.text), c.expected) << c.text;
    }
    for (const char* broken : {"'open", "\"open", "trailing\\"}) {
        EXPECT_THROW(split_words(broken), std::invalid_argument) << broken;
    }
}

TEST(AbSides, ASideKeepsTheSharedOptionsItDoesNotSetItselfAndNothingThatMakesItMoreThanOneRun) {
    const words shared = {"--size", "1000000", "--runs", "3", "--chunk", "100000", "--reference"};
    const struct {
        words own;
        words expected;
    } merges[] = {
        {{}, shared},
        {{"--chunk", "2000"}, {"--size", "1000000", "--runs", "3", "--reference", "--chunk", "2000"}},
        {{"--chunk=2000", "--size", "5"}, {"--runs", "3", "--reference", "--chunk=2000", "--size", "5"}},
        {{"--values", "wide"}, {"--size", "1000000", "--runs", "3", "--chunk", "100000", "--reference", "--values",
                                "wide"}},
    };
    for (const auto& m : merges) {
        EXPECT_EQ(side_arguments(shared, m.own), m.expected) << ::testing::PrintToString(m.own);
    }
    const struct {
        words own;
        const char* refusal; // empty: accepted
    } sides[] = {
        {{"--chunk", "2000", "--values", "wide", "--breakdown"}, ""},
        {{"--processes", "3"}, "--processes makes a side more than one"},
        {{"--cpus=1,2"}, "--cpus makes a side"},
        {{"--export-csv", "x.csv"}, "--export-csv: a side's records are ab's"},
        {{"--version"}, "print instead of measuring"},
        {{"compare", "a.json"}, "'compare' is a subcommand"},
        {{"--label", "--processes"}, "--label makes a side"},
    };
    for (const auto& s : sides) {
        const auto refusal = side_refusal(s.own);
        if (std::string(s.refusal).empty()) {
            EXPECT_FALSE(refusal) << *refusal;
        } else {
            ASSERT_TRUE(refusal) << ::testing::PrintToString(s.own);
            EXPECT_NE(refusal->find(s.refusal), std::string::npos) << *refusal;
        }
    }
}

TEST(AbSides, TheTrialIsSmallButKeepsWhatOnlyTheProgramCanJudge) {
    EXPECT_EQ(trial_arguments({"--size", "10000000", "--runs", "10", "--chunk", "2000"}),
              (words{"--chunk", "2000", "--size", "1000", "--runs", "1"}));
    EXPECT_EQ(trial_arguments({"--size=abc", "--runs=7"}), (words{"--size=abc", "--runs", "1"}))
        << "a size the program refuses stays for it to refuse";
    EXPECT_EQ(trial_arguments({}), (words{"--size", "1000", "--runs", "1"}));
}

TEST(AbSides, ProgramsAreFoundAsAShellFindsThem) {
    const scratch_dir dir;
    EXPECT_EQ(resolve_program("sh"), "/usr/bin/sh") << "a bare name is looked up in PATH";
    const std::string plain = dir.file("plain");
    write_text(plain, "not a program");
    const struct {
        std::string name;
        const char* message;
    } refused[] = {
        {dir.file("missing"), "does not exist"},
        {plain, "cannot be executed"},
        {dir.path.string(), "cannot be executed"},
        {"no-such-program-anywhere", "is not a program in PATH"},
        {"", "empty"},
    };
    for (const auto& r : refused) {
        try {
            resolve_program(r.name);
            ADD_FAILURE() << r.name << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_HAS(std::string(e.what()), r.message) << e.what();
        }
    }
}

TEST(AbRounds, TheEstimateIsTheHodgesLehmannOfTheLogRatiosAndThePValueScipys) {
    // Reference: SciPy 1.10, wilcoxon(log(r), method='exact').pvalue; Python's statistics.stdev of
    // the log ratios, the rounds' spread; the median of every Walsh average of the log ratios.
    const struct {
        std::vector<double> ratios;
        double p, round_sd, shift;
    } cases[] = {
        {{1.04, 0.99, 1.06, 1.02, 0.97, 1.05, 1.08, 1.03}, 0.078125, 0.03545273102510155, 0.03200867955078293},
        {{1.031, 0.992, 1.047, 1.012, 0.978, 1.054, 1.083, 1.021, 0.995, 1.066, 1.009, 1.038}, 0.01611328125,
         0.030952902223581026, 0.026905698435063616},
    };
    for (const auto& c : cases) {
        const comparison judged = compare_rounds(rounds_of_ratios(c.ratios), 0.05, 0.02);
        const strategy_comparison& row = judged.steps.at(0).strategies.at(0);
        ASSERT_TRUE(row.shift && row.p_value && row.shift_interval);
        EXPECT_NEAR(*row.shift, c.shift, 1e-6);
        EXPECT_NEAR(*row.p_value, c.p, 1e-6);
        EXPECT_LE(row.shift_interval->first, *row.shift);
        EXPECT_GE(row.shift_interval->second, *row.shift);
        EXPECT_EQ(row.rounds, c.ratios.size());
        EXPECT_NEAR(row.round_sd.value_or(0), c.round_sd, 1e-12);
        EXPECT_EQ(rule_text(row, std::nullopt), "interleaved, " + std::to_string(c.ratios.size()) + " rounds");
    }
}

TEST(AbRounds, VerdictsFollowCompareRules) {
    const struct {
        const char* name;
        std::vector<double> ratios;
        verdict expected;
        int gate;         // --fail-on-slower
        int gate_allowed; // with --allow-inconclusive too
        const char* reading; // the row's plain sentence: its figures checked by brute force (Walsh
                             // averages, the exact signed-rank tail) as 10.25 [9.49, 11.00], -9.75
                             // [-10.51, -9.00], [-0.15, 0.15] and [-7.05, 8.00] percent
    } cases[] = {
        {"+10% every round", {1.10, 1.11, 1.09, 1.12, 1.10, 1.08, 1.11, 1.095, 1.105, 1.115}, verdict::slower, 1, 1,
         "new is 10.2% slower than base on parallel sort [9.5%, 11.0%]"},
        {"-10% every round", {0.90, 0.91, 0.89, 0.92, 0.90, 0.88, 0.91, 0.895, 0.905, 0.915}, verdict::faster, 0, 0,
         "new is 9.8% faster than base on parallel sort [9.0%, 10.5%]"},
        {"within 0.3%", {1.001, 0.999, 1.002, 0.998, 1.0005, 0.9995, 1.003, 0.997, 1.0015, 0.9985},
         verdict::equivalent, 0, 0, "parallel sort: no change beyond \u00b10.1%"},
        {"no sign of a change, wide", {1.08, 0.93, 1.11, 0.95, 1.04, 0.90, 1.07, 0.96}, verdict::inconclusive, 3, 0,
         "parallel sort: not decided, somewhere from 7.0% faster to 8.0% slower"},
        {"four rounds cannot reach 5%", {1.2, 1.2, 1.2, 1.2}, verdict::too_few_runs, 3, 0,
         "parallel sort: too few rounds to test"},
    };
    for (const auto& c : cases) {
        const comparison judged = compare_rounds(rounds_of_ratios(c.ratios), 0.05, 0.02);
        EXPECT_EQ(judged.steps.at(0).strategies.at(0).result, c.expected) << c.name;
        EXPECT_EQ(plain_reading(judged.steps[0].strategies[0], 0.05), c.reading) << c.name;
        // Left undecided, a strategy fails the gate with its own status unless that is allowed.
        EXPECT_EQ(compare_exit_status(judged, true, false), c.gate) << c.name;
        EXPECT_EQ(compare_exit_status(judged, true, true), c.gate_allowed) << c.name;
        EXPECT_EQ(compare_exit_status(judged, false, false), 0) << c.name << ": no gate asked for";
    }
    const auto wide = compare_rounds(rounds_of_ratios({1.08, 0.93, 1.11, 0.95, 1.04, 0.90, 1.07, 0.96}), 0.05, 0.02);
    EXPECT_HAS(verdict_cell(wide.steps[0].strategies[0]), "rounds")
        << "an undecided row names rounds, not runs: " << verdict_cell(wide.steps[0].strategies[0]);
}

// The side that starts alternates, the first round's from the seed: each starts half the rounds,
// where a coin flip per round let seed 1 start the new side in 8 of 10.
TEST(AbRounds, TheSidesTakeTurnsStarting) {
    std::set<bool> firsts;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        for (const unsigned rounds : {1u, 8u, 9u}) {
            const std::vector<bool> starts = alternating_starts(rounds, seed);
            ASSERT_EQ(starts.size(), rounds);
            EXPECT_EQ(std::count(starts.begin(), starts.end(), starts[0]), (rounds + 1) / 2) << seed;
            for (std::size_t k = 1; k < rounds; ++k) {
                EXPECT_NE(starts[k], starts[k - 1]) << "seed " << seed << ", round " << k + 1;
            }
        }
        EXPECT_EQ(alternating_starts(8, seed), alternating_starts(8, seed));
        firsts.insert(alternating_starts(1, seed)[0]);
    }
    EXPECT_EQ(firsts.size(), 2u) << "the seed decides which side starts";
}

// A round of pairs is judged by the median of its pairs' log ratios, its figures the medians of its
// units; the pairs' spread is pooled over the rounds about each round's mean. Expected values from
// Python's statistics module.
TEST(AbRounds, ARoundOfPairsIsJudgedByTheMedianOfItsPairsRatios) {
    const auto paired = [](std::vector<std::pair<std::int64_t, std::int64_t>> pairs) {
        ab_round round = round_of({{"parallel sort", 1}, {"thread sort", 1}}, {{"parallel sort", 9}, {"thread sort", 1}});
        for (const auto& [base, next] : pairs) {
            round.pairs.push_back({"parallel sort", 7, false, base, next});
            round.pairs.push_back({"thread sort", 7, true, 100, 100}); // another strategy's pairs stay its own
        }
        return round;
    };
    const comparison judged = compare_rounds({paired({{100, 110}, {100, 90}, {200, 260}, {100, 105}}),
                                              paired({{100, 100}, {100, 102}, {100, 98}})},
                                             0.05, 0.02);
    const strategy_comparison& row = judged.steps.at(0).strategies.at(0);
    ASSERT_EQ(row.name, "parallel sort");
    ASSERT_EQ(row.round_log_ratios.size(), 2u);
    EXPECT_NEAR(row.round_log_ratios[0], 0.07205017198687849, 1e-12);
    EXPECT_NEAR(row.round_log_ratios[1], 0.0, 1e-12);
    EXPECT_EQ(row.base, (duration_list{100, 100}));
    EXPECT_EQ(row.next, (duration_list{107, 100}));
    ASSERT_TRUE(row.pair_sd.has_value());
    EXPECT_NEAR(*row.pair_sd, 0.1179276705668741, 1e-12);
    EXPECT_EQ(judged.steps[0].strategies.at(1).pair_sd, 0.0) << "identical pairs spread by nothing";
    EXPECT_FALSE(compare_rounds({round_of({{"parallel sort", 100}}, {{"parallel sort", 110}})}, 0.05, 0.02)
                     .steps.at(0).strategies.at(0).pair_sd.has_value())
        << "rounds of whole processes have no pairs";
}

// Holm's adjustment, by hand: sorted 0.005 0.01 0.03 0.04 times 4, 3, 2, 1, each at least the
// one before it and at most 1.
TEST(AbRounds, TheStrategiesAreJudgedAsOneFamilyByHolmsAdjustment) {
    const struct {
        std::vector<double> p, adjusted;
    } cases[] = {
        {{0.01, 0.04, 0.03, 0.005}, {0.03, 0.06, 0.06, 0.02}},
        {{0.02, 0.02}, {0.04, 0.04}},
        {{0.3, 0.6, 0.9}, {0.9, 1.0, 1.0}},
        {{0.2}, {0.2}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        const std::vector<double> got = holm_adjusted(c.p);
        ASSERT_EQ(got.size(), c.adjusted.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            EXPECT_NEAR(got[k], c.adjusted[k], 1e-12) << ::testing::PrintToString(c.p) << " at " << k;
        }
    }
    // Six rounds of +10%: p = 2/64 decides one strategy alone; two such strategies adjust it to
    // 1/16, and neither is called slower, nor is the row whose own p stays 1.
    std::vector<ab_round> rounds;
    for (int k = 0; k < 6; ++k) {
        rounds.push_back(round_of({{"sequential sort", 100'000'000}, {"parallel sort", 100'000'000}},
                                  {{"sequential sort", 110'000'000}, {"parallel sort", 110'000'000}}));
    }
    EXPECT_EQ(compare_rounds(rounds_of_ratios({1.1, 1.1, 1.1, 1.1, 1.1, 1.1}), 0.05, 0.02).steps[0].strategies[0].result,
              verdict::slower);
    const comparison two = compare_rounds(rounds, 0.05, 0.02);
    for (const auto& row : two.steps.at(0).strategies) {
        EXPECT_NEAR(*row.p_value, 0.03125, 1e-12);
        EXPECT_NEAR(*row.adjusted_p_value, 0.0625, 1e-12);
        EXPECT_EQ(row.result, verdict::inconclusive) << row.name;
    }
    EXPECT_HAS(gate_rule(two), "adjusted for the 2 tests made");
    EXPECT_EQ(plain_reading(two.steps[0].strategies[0], 0.05),
              "sequential sort: not decided at 10.0% slower (p = 0.0625, not below 0.05)");
}

// --max-time: looks whose shares of alpha add up to less than it, the first where four strategies'
// smallest adjusted p-value can reach its share (8 / 2^9 < 0.0304 / 1), each next at half again as
// many rounds; a strategy decided at a look keeps its row.
TEST(AbRounds, LooksSpendTheirSharesAndKeepWhatTheyDecided) {
    double spent = 0;
    for (std::size_t k = 0; k < 1000; ++k) {
        spent += look_alpha(0.05, k);
    }
    EXPECT_LT(spent, 0.05);
    EXPECT_NEAR(look_alpha(0.05, 0), 0.05 * 6 / (M_PI * M_PI), 1e-15);
    EXPECT_EQ(look_rounds(0.05, 4),
              (std::vector<std::size_t>{9, 14, 21, 32, 48, 72, 108, 162, 243, 365, 548, 822}));

    // The parallel sort 10% slower in every round, the sequential sort's ratios spread around 1.
    std::vector<ab_round> rounds;
    const double noise[] = {1.03, 0.97, 1.01, 0.99, 1.04, 0.96, 1.02, 0.98, 1.005};
    for (const double n : noise) {
        rounds.push_back(round_of({{"sequential sort", 100'000'000}, {"parallel sort", 100'000'000}},
                                  {{"sequential sort", std::llround(1e8 * n)}, {"parallel sort", 110'000'000}}));
    }
    comparison judged;
    EXPECT_FALSE(take_look(rounds, {9, look_alpha(0.05, 0)}, 0.02, judged)) << "the sequential sort is open";
    ASSERT_EQ(judged.steps.at(0).strategies.at(1).result, verdict::slower);
    // Later rounds where the parallel sort is as fast as the base do not take back its verdict.
    for (int k = 0; k < 5; ++k) {
        rounds.push_back(round_of({{"sequential sort", 100'000'000}, {"parallel sort", 100'000'000}},
                                  {{"sequential sort", 100'000'000}, {"parallel sort", 100'000'000}}));
    }
    take_look(rounds, {14, look_alpha(0.05, 1)}, 0.02, judged);
    EXPECT_EQ(judged.steps[0].strategies[1].result, verdict::slower);
    EXPECT_EQ(judged.steps[0].strategies[1].rounds, 9u) << "the row of the look that decided it";
    EXPECT_EQ(judged.steps[0].strategies[0].rounds, 14u);
}

TEST(AbRounds, SettingsThatDifferAreNamedAndStrategiesOfOneSideNotCompared) {
    std::vector<ab_round> rounds;
    for (int k = 0; k < 6; ++k) {
        ab_round r = round_of({{"parallel sort", 100}, {"std::sort", 90}}, {{"parallel sort", 120}, {"extra", 5}});
        r.next.context.chunk_size = 2000;
        r.next.context.compiler = "g++ 13";
        rounds.push_back(std::move(r));
    }
    rounds[2].base.strategies[0].summary.median = 0; // a round without a usable median is left out
    const comparison judged = compare_rounds(rounds, 0.05, 0.02);
    ASSERT_EQ(judged.differences.size(), 2u);
    EXPECT_EQ(judged.differences[0].field, "chunk_size");
    EXPECT_TRUE(is_run_setting(judged.differences[0]));
    EXPECT_EQ(judged.differences[1].field, "compiler");
    EXPECT_FALSE(is_run_setting(judged.differences[1]));
    EXPECT_EQ(judged.skipped, (std::vector<std::string>{"only in the base: std::sort", "only in the new side: extra"}));
    ASSERT_EQ(judged.steps.at(0).strategies.size(), 1u);
    EXPECT_EQ(judged.steps[0].strategies[0].rounds, 5u);
    EXPECT_TRUE(compare_rounds({}, 0.05, 0.02).steps.empty());
}

// Whole runs of `ab` with sides that are scripts: fast, and able to fail on cue.
class AbRun : public ::testing::Test {
protected:
    scratch_dir dir;
    // A side that is this program, except that its run number `at` runs `instead`. Run 1 checks its
    // options, 2 is the trial, 3 asks whether it answers units, 4 is the first round's worker.
    std::string side_except(const std::string& name, int at, const std::string& instead,
                            const std::string& before = "") {
        const std::string count = dir.file(name + ".count");
        return script(dir, name, "n=$(($(cat '" + count + "' 2>/dev/null || echo 0) + 1)); echo $n > '" + count + "'\n" +
                                     before + "if [ $n -eq " + std::to_string(at) + " ]; then " + instead +
                                     "; fi\nexec '" + bench_binary() + "' \"$@\"");
    }
    std::string failing_side(int fail_at) {
        return side_except("failing-side", fail_at, "echo 'quicksort_bench: error: the side broke' >&2; exit 1");
    }
    nlohmann::json json(const std::string& name) { return nlohmann::json::parse(read_text(dir.file(name))); }
};

TEST_F(AbRun, RoundsRunInTheOrdersOfTheSeedAndEveryExportHoldsThem) {
    // The new side notes the pad its environment was given each time it runs.
    const std::string noting = script(dir, "noting-side", "echo ${#QSB_ENVIRONMENT_PAD} >> '" + dir.file("pads") +
                                                              "'\nexec '" + bench_binary() + "' \"$@\"");
    const process_result r = ab({"--size", "2000", "--runs", "2", "--rounds", "8", "--seed", "7", "--new", noting,
                                 "--new-options", "--chunk 300", "--export-json", dir.file("ab.json"),
                                 "--export-markdown", dir.file("ab.md"), "--export-html", dir.file("ab.html")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_HAS(r.out, "[interleaved, 8 rounds]") << r.out;
    EXPECT_HAS(r.out, "chunk_size: 100000 -> 300") << r.out;
    EXPECT_HAS(r.out, "different settings (chunk_size)") << r.out;
    EXPECT_LACKS(r.out, "A/A") << "the sides differ";
    for (int k = 1; k <= 8; ++k) {
        EXPECT_HAS(r.err, "round " + std::to_string(k) + "/8, ") << r.err;
    }
    const nlohmann::json doc = json("ab.json");
    EXPECT_EQ(doc["kind"], "ab");
    EXPECT_EQ(doc["complete"], true);
    const std::vector<bool> new_first = alternating_starts(8, 7);
    const auto pads = environment_pads(8, 7);
    std::string noted = "0\n0\n0\n"; // its check, its trial and the question whether it answers units, unpadded
    std::set<std::size_t> drawn;
    for (const auto& [base, next] : pads) {
        noted += std::to_string(next) + "\n";
        drawn.insert({base, next});
        EXPECT_LE(std::max(base, next), max_environment_pad);
    }
    EXPECT_GT(drawn.size(), 12u) << "each side's pad drawn anew each round";
    EXPECT_EQ(read_text(dir.file("pads")), noted) << "each round's pad, as the export says";
    ASSERT_EQ(doc["rounds"].size(), 8u);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(doc["rounds"][k]["order"][0], new_first[k] ? "new" : "base") << k;
        EXPECT_EQ(doc["rounds"][k]["environment_pad"]["new"], pads[k].second) << k;
        EXPECT_EQ(doc["rounds"][k]["new"]["context"]["chunk_size"], 300);
        EXPECT_EQ(doc["rounds"][k]["base"]["context"]["chunk_size"], 100000);
        // Two pairs of each strategy (--runs 2), the first started by the round's side, the next by the other.
        const nlohmann::json& pairs = doc["rounds"][k]["pairs"];
        ASSERT_EQ(pairs.size(), 8u) << k;
        std::map<std::string, std::vector<std::string>> firsts;
        for (const auto& pair : pairs) {
            firsts[pair["strategy"]].push_back(pair["first"]);
            EXPECT_GT(pair["base_ns"].get<std::int64_t>(), 0);
            EXPECT_GT(pair["new_ns"].get<std::int64_t>(), 0);
        }
        ASSERT_EQ(firsts.size(), 4u);
        for (const auto& [strategy, sides] : firsts) {
            EXPECT_EQ(sides, (std::vector<std::string>{new_first[k] ? "new" : "base", new_first[k] ? "base" : "new"}))
                << strategy << " in round " << k;
        }
        EXPECT_EQ(doc["rounds"][k]["new"]["context"]["run_count"], 2) << "a unit's median per pair";
        // The chunked parallel sort's unit is one sort on the worker's own thread: both sides sorted
        // the same arrays, which its pairs name.
        std::vector<std::uint64_t> sorted;
        for (const auto& pair : pairs) {
            if (pair["strategy"] == "parallel sort") {
                sorted.push_back(pair["array"]);
            }
        }
        for (const char* side : {"base", "new"}) {
            EXPECT_EQ(doc["rounds"][k][side]["strategies"][2]["array_ids"].get<std::vector<std::uint64_t>>(), sorted)
                << side << " in round " << k;
        }
    }
    for (const auto& row : doc["differences"]) {
        EXPECT_GT(row["pair_sd"].get<double>(), 0) << row["strategy"];
    }
    EXPECT_HAS(r.out, "Each round started both sides as workers") << r.out;
    EXPECT_HAS(read_text(dir.file("ab.md")), "Each round started both sides as workers");
    ASSERT_EQ(doc["differences"].size(), 4u);
    EXPECT_EQ(doc["differences"][0]["log_ratios"].size(), 8u);
    EXPECT_HAS(read_text(dir.file("ab.md")), "| chunk_size (a setting) | 100000 | 300 |");
}

TEST_F(AbRun, ASideThatFailsEndsTheRunWithItsMessageAndIncompleteExports) {
    // Run 1 checks its options, 2 is the trial, 3 asks whether it answers units, 4 the first round's
    // worker, 5 the second round's.
    const process_result r = ab({"--size", "2000", "--runs", "2", "--new", failing_side(5), "--export-json",
                                 dir.file("ab.json")});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_HAS(r.err, "quicksort_bench: error: round 2, new: the side broke") << r.err;
    const nlohmann::json doc = json("ab.json");
    EXPECT_EQ(doc["complete"], false);
    EXPECT_EQ(doc["failure"], "round 2, new: the side broke");
    EXPECT_EQ(doc["rounds"].size(), 1u);
    EXPECT_EQ(r.out, "") << "no table of an unfinished run";
}

TEST_F(AbRun, RefusalsComeBeforeAnyRound) {
    const std::string newer = script(dir, "newer-side",
                                     "'" + bench_binary() + "' \"$@\" || exit 1\nfor f in \"$@\"; do last=$f; done\n"
                                     "sed -i 's/\"format_version\": [0-9]*/\"format_version\": 99/' \"$last\"");
    const std::string plain = dir.file("plain");
    write_text(plain, "data");
    const struct {
        words args;
        std::string message;
    } cases[] = {
        {{"--rounds", "5"}, "--rounds: must be between 6 and 1000, got 5"},
        {{"--rounds", "ten"}, "'ten' is not a whole number"},
        {{"--alpha", "0.01", "--rounds", "9"}, "it needs --rounds 10 or more"},
        {{"--rounds", "7"}, "--alpha 0.05 cannot be reached in 7 rounds for the four strategies"},
        {{"--rounds", "12", "--max-time", "1m"}, "give --rounds for a fixed number of rounds or --max-time"},
        {{"--max-time", "soon"}, "--max-time"},
        {{"--base", dir.file("missing")}, "--base: '" + dir.file("missing") + "' does not exist"},
        {{"--new", plain}, "cannot be executed"},
        {{"--new-options", "--processes 3"}, "--processes makes a side"},
        {{"--base-options", "--export-json x.json"}, "give the exports to ab itself"},
        {{"--new-options", "'open"}, "--new-options: cannot be read"},
        {{"--new-options", "--chunk abc"}, "the new side's options are refused"},
        // Checked as given, not at the trial's own small size and count.
        {{"--new-options", "--size 0"}, "the new side's options are refused"},
        {{"--base-options", "--runs 0"}, "the base side's options are refused"},
        {{"--new", newer}, "run ab from the newer build"},
        {{"--allow-inconclusive"}, "--allow-inconclusive only relaxes --fail-on-slower"},
    };
    for (const auto& c : cases) {
        const process_result r = ab(with({"--size", "2000", "--runs", "2"}, c.args));
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(c.args) << r.err;
        EXPECT_HAS(r.err, c.message) << r.err;
        EXPECT_LACKS(r.err, "round 1/") << "no round ran: " << r.err;
    }
    const process_result before = run_process(bench_binary(), {"--size", "2000", "ab"});
    EXPECT_EQ(before.exit_code, 2);
    EXPECT_HAS(before.err, "its run options go after it") << before.err;
}

TEST_F(AbRun, AnInterruptedRunLeavesNoProcessNoScratchAndIncompleteExports) {
    // The side as this program, and behind a wrapper that is not replaced by it (the benchmark a
    // grandchild of ab): either way nothing of it outlives the run.
    const std::string wrapper = script(dir, "wrapper-side", "'" + bench_binary() + "' \"$@\"\nexit $?");
    for (const std::string& side : {std::string(), wrapper}) {
        run_options interrupt;
        interrupt.marker = "round 1/20,";
        interrupt.signal = SIGINT;
        // A size of its own, so that a side left behind could be found.
        const process_result r = run_process(
            "/bin/bash", {"-c", "TMPDIR='" + dir.path.string() + "' exec '" + bench_binary() +
                                    "' ab --size 300011 --runs 3 --rounds 20 --export-json '" + dir.file("ab.json") +
                                    "'" + (side.empty() ? "" : " --new '" + side + "' --base '" + side + "'") +
                                    " 2>&1"},
            interrupt);
        ASSERT_TRUE(r.saw_marker) << r.out;
        EXPECT_EQ(r.exit_code, 130) << r.out;
        EXPECT_HAS(r.out, "quicksort_bench: error: round 2, ") << r.out;
        EXPECT_EQ(json("ab.json")["complete"], false);
        const process_result left = run_process("/usr/bin/pgrep", {"-f", "size 300011"});
        EXPECT_EQ(left.out, "") << "a side outlived its run: " << side;
        for (const auto& entry : fs::directory_iterator(dir.path)) {
            EXPECT_NE(entry.path().filename().string().rfind("quicksort_bench-", 0), 0u) << entry.path();
        }
    }
}

TEST_F(AbRun, ASideIsItsProcessWhateverItLeavesAndEndsWhenItHangs) {
    const struct {
        const char* what;
        std::string side;
        words args;
        int status;
        std::string says;
    } cases[] = {
        // A background child holding the side's output open: the round goes on once the side exits,
        // and the child ends with it.
        {"a side that leaves a child", script(dir, "leaving-side", "(sleep 31.7 &)\nexec '" + bench_binary() + "' \"$@\""),
         {"--rounds", "8"}, 0, "[interleaved, 8 rounds]"},
        {"a side that hangs", side_except("hanging-side", 4, "exec sleep 32.3"), {"--rounds", "8", "--timeout", "2s"}, 1,
         "round 1, new: it ran past the time limit of 2 s"},
        // The same where a round runs each side whole: a build from before the units.
        {"an older build that hangs", side_except("hanging-older-side", 4, "exec sleep 32.9", "unset QSB_STEP_UNITS\n"),
         {"--rounds", "8", "--timeout", "2s"}, 1, "round 1, new: it ran past the time limit of 2 s"},
        // A worker that greets, then answers a unit with what is no answer, and lives on.
        {"a side that answers nonsense",
         side_except("nonsense-side", 4, "echo 'units 1 runs 2'; read request; echo nonsense; exec sleep 33.1"),
         {"--rounds", "8"}, 1, "round 1, new: its answer to a unit of "},
        // More error output than is kept, its error line last: the line that says why is kept.
        {"a side that says much before it fails",
         side_except("chattering-side", 4,
                     "head -c 100000 /dev/zero | tr '\\0' x >&2; echo >&2; "
                     "echo 'quicksort_bench: error: the side broke' >&2; exit 1"),
         {"--rounds", "8"}, 1, "round 1, new: the side broke"},
        // A build from before the units: said once, and its rounds run each side whole.
        {"an older build", script(dir, "older-side", "unset QSB_STEP_UNITS\nexec '" + bench_binary() + "' \"$@\""),
         {"--rounds", "8"}, 0, "ab: the new side does not answer units of protocol version 1"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const process_result r = ab(with({"--size", "2000", "--runs", "2", "--new", c.side}, c.args));
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(r.exit_code, c.status) << c.what << r.err;
        EXPECT_HAS((r.out + r.err), c.says) << c.what << r.out << r.err;
        // Waiting for what a side left would take 31.7 s a run, 16 runs here.
        EXPECT_LT(took, std::chrono::seconds(100)) << c.what << ": waited for what the side left";
    }
    for (const char* left : {"sleep 31.7", "sleep 32.3", "sleep 32.9", "sleep 33.1"}) {
        EXPECT_EQ(run_process("/usr/bin/pgrep", {"-f", left}).out, "") << left << " outlived its side";
    }
}

// Rounds until decided or out of time: the looks taken, the last over every round run, said and kept.
// A worker as the protocol has it: greets, answers each unit with its checked sorts, writes its
// record at the end of its input; anything else ends it with status 2 and a line that says why.
TEST_F(AbRun, AWorkerAnswersUnitsAndRefusesAnythingElse) {
    const struct {
        const char* version;
        const char* requests;
        int status;
        std::string says;
    } cases[] = {
        {"1", "unit parallel sort\\nunit thread sort\\nunit sequential sort\\nunit parallel_for parallel sort\\n", 0,
         "units 1 runs 2\nsorted "},
        {"2", "", 2, "version 2 of the unit protocol asked for; this program speaks version 1"},
        {"1", "run everything\\n", 2, "not a request of the unit protocol: run everything"},
        {"1", "unit std::sort\\n", 2, "this run does not measure std::sort"},
    };
    for (const auto& c : cases) {
        const process_result r = run_process(
            "/bin/bash", {"-c", "printf '" + std::string(c.requests) + "' | QSB_STEP_UNITS=" + c.version +
                                    " QSB_STEP_RESULT_FD=7 '" + bench_binary() + "' --size 2000 --runs 2 7>>'" +
                                    dir.file("record.json") + "'"});
        EXPECT_EQ(r.exit_code, c.status) << c.requests << r.err;
        EXPECT_HAS(r.out + r.err, c.says) << r.out << r.err;
    }
    // The first case's record: the strategies asked for in the table's order, a duration per unit.
    const nlohmann::json record = json("record.json");
    ASSERT_EQ(record["strategies"].size(), 4u);
    EXPECT_EQ(record["strategies"][0]["name"], "sequential sort");
    EXPECT_EQ(record["strategies"][2]["name"], "parallel sort");
    EXPECT_EQ(record["strategies"][2]["durations_ns"].size(), 1u);
    EXPECT_EQ(record["context"]["run_count"], 1) << "the units asked of each strategy";
    // A unit is one sort of the parallel sort, one per CPU of the thread sort, as their phases run them.
    const process_result first = run_process(
        "/bin/bash", {"-c", "printf 'unit parallel sort\\nunit thread sort\\n' | QSB_STEP_UNITS=1 "
                            "QSB_STEP_RESULT_FD=7 '" + bench_binary() + "' --size 2000 7>'" + dir.file("units.json") + "'"});
    std::vector<std::string> lines;
    for (std::istringstream in(first.out); std::getline(in, lines.emplace_back());) {
    }
    ASSERT_GE(lines.size(), 3u) << first.out;
    EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), '@'), 1) << first.out;
    EXPECT_EQ(static_cast<std::size_t>(std::count(lines[2].begin(), lines[2].end(), '@')), allowed_cpus().size())
        << first.out;
}

TEST_F(AbRun, MaxTimeAddsRoundsUntilDecidedOrTheTimeIsSpent) {
    const auto started = std::chrono::steady_clock::now();
    const process_result r = ab({"--size", "2000", "--runs", "2", "--max-time", "3s", "--export-json", dir.file("ab.json"),
                                 "--export-markdown", dir.file("ab.md"), "--export-html", dir.file("ab.html")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_HAS(r.out, "Until decided (--max-time): looked at ") << r.out;
    for (const char* file : {"ab.md", "ab.html"}) {
        EXPECT_HAS(read_text(dir.file(file)), "Until decided (--max-time): looked at ") << file;
    }
    const nlohmann::json doc = json("ab.json");
    ASSERT_GE(doc["looks"].size(), 1u);
    EXPECT_EQ(doc["looks"].back()["rounds"], doc["rounds"].size()) << "a last look over every round run";
    EXPECT_LT(doc["looks"][0]["alpha"].get<double>(), 0.05);
}

TEST_F(AbRun, ATerminalShowsTheRoundsProgressAndNothingOfTheSidesReports) {
    // Rounds of pairs, and rounds of whole processes (both sides a build that answers no units,
    // whose own report a round reads and drops).
    const std::string older = script(dir, "older-side", "unset QSB_STEP_UNITS\nexec '" + bench_binary() + "' \"$@\"");
    for (const words& sides : {words{}, words{"--base", older, "--new", older}}) {
        run_options terminal;
        terminal.terminal = true;
        const process_result r = run_process(
            bench_binary(), with({"ab", "--size", "2000", "--runs", "2", "--rounds", "8"}, sides), terminal);
        EXPECT_EQ(r.exit_code, 0) << r.out;
        EXPECT_HAS(r.out, "[interleaved, 8 rounds]") << r.out;
        // Both sides one program with the same options: the noise measured, what it lets through said.
        EXPECT_HAS(r.out, "(an A/A run)") << r.out;
        EXPECT_HAS(r.out, "\n  parallel sort: the rounds' ratios spread by ") << r.out;
        EXPECT_HAS(r.out, " could be called") << r.out;
        EXPECT_LACKS(r.out, "new/base") << "the lines per round are for logs and pipes";
        EXPECT_LACKS(r.out, "Mean Average") << "a side's own report is no sort to count";
    }
}
