// The command line: defaults, limits, refusals in one line, outputs that are one file, a child's arguments.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/child_process.hpp"
#include "cli/options.hpp"
#include "process.hpp"

namespace {

struct parsed {
    parse_outcome outcome;
    std::string out;
    std::string err;
};

parsed parse(std::vector<std::string> args) {
    std::vector<const char*> argv{"quicksort_bench"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out, err;
    parse_outcome outcome = parse_options(static_cast<int>(argv.size()), argv.data(), out, err);
    return {std::move(outcome), out.str(), err.str()};
}

} // namespace

TEST(Options, ClassicDefaultsOverridesLimitsHelpAndVersion) {
    const options classic = parse({}).outcome.opts;
    EXPECT_EQ(classic.sizes.array_size, 10'000'000u);
    EXPECT_EQ(classic.sizes.run_count, 10u);
    EXPECT_EQ(classic.sizes.chunk_size, 100'000);
    EXPECT_EQ(classic.sizes.values, value_kind::classic);
    EXPECT_FALSE(classic.no_pause || classic.breakdown || classic.reference || !classic.cpu_counts.empty());

    const parsed p = parse({"--size", "1000", "--runs=3", "--chunk", "64", "--no-pause", "--values", "wide",
                            "--breakdown", "--cpus", "1"});
    ASSERT_FALSE(p.outcome.exit_code) << p.err;
    EXPECT_TRUE(p.outcome.opts.no_pause && p.outcome.opts.breakdown);
    EXPECT_EQ(p.outcome.opts.sizes.array_size, 1000u);
    EXPECT_EQ(p.outcome.opts.sizes.run_count, 3u);
    EXPECT_EQ(p.outcome.opts.sizes.chunk_size, 64);
    EXPECT_EQ(p.outcome.opts.sizes.values, value_kind::wide);
    EXPECT_EQ(p.outcome.opts.cpu_counts, std::vector<unsigned>{1});

    const parsed largest = parse({"--size", "2147483647", "--chunk", "2147483647", "--runs", "1000000"});
    ASSERT_FALSE(largest.outcome.exit_code) << largest.err;
    EXPECT_EQ(largest.outcome.opts.sizes.array_size, max_array_size);

    // A value that holds options is a value: each side may set the same option of its own.
    const parsed sides = parse({"ab", "--base-options", "--chunk 500", "--new-options", "--chunk 500"});
    ASSERT_FALSE(sides.outcome.exit_code) << sides.err;
    EXPECT_EQ(sides.outcome.opts.ab->next.options_text, "--chunk 500");
    EXPECT_EQ(parse({"ab", "--timeout", "0s"}).outcome.exit_code, 2);
    EXPECT_EQ(parse({"ab", "--timeout", "90s"}).outcome.opts.ab->timeout_ns, 90'000'000'000);
    // A flag read as CLI11 reads one: given a false value it stays off, for the run and for both sides.
    EXPECT_TRUE(parse({"--reference"}).outcome.opts.reference);
    EXPECT_FALSE(parse({"--reference=false"}).outcome.opts.reference);
    const parsed shared = parse({"ab", "--size", "1000", "--reference=no"});
    ASSERT_FALSE(shared.outcome.exit_code) << shared.err;
    EXPECT_EQ(shared.outcome.opts.ab->base.arguments, (std::vector<std::string>{"--size", "1000"}));
    EXPECT_EQ(parse({"ab", "--reference"}).outcome.opts.ab->next.arguments, std::vector<std::string>{"--reference"});
    const parsed validate = parse({"--size", "5", "--validate"});
    EXPECT_TRUE(validate.outcome.opts.validate) << validate.err;

    const parsed help = parse({"--help"});
    EXPECT_EQ(help.outcome.exit_code, 0);
    EXPECT_HAS(help.out, "--size");
    EXPECT_TRUE(help.err.empty());
    const parsed version = parse({"--version"});
    EXPECT_EQ(version.outcome.exit_code, 0);
    EXPECT_EQ(version.out.rfind("quicksort_bench ", 0), 0u);
}

TEST(Options, HostileValuesAreRefusedWithOneLineAndExitTwo) {
    std::vector<std::vector<std::string>> bad = {{"-x"}};
    // Every numeric option with missing, empty, zero, negative, huge, non-numeric and repeated values.
    for (const std::string option : {"--size", "--runs", "--chunk"}) {
        for (const std::string value : {"", "0", "-1", "-0", "+5", " 5", "5 ", "2147483648", "18446744073709551616",
                                        "99999999999999999999999", "abc", "12x", "1e7", "0x10", "3.5"}) {
            bad.push_back({option, value});
            bad.push_back({option + "=" + value});
        }
        bad.push_back({option});
        bad.push_back({option, "2", option, "3"});
    }
    bad.push_back({"--runs", "1000001"});
    for (const std::string value : {"", "bogus", "sorted", "classic,wide"}) {
        bad.push_back({"--values", value});
    }
    bad.push_back({"--values"});
    bad.push_back({"--cpus", "0"});
    bad.push_back({"--cpus", "1", "--step-result", "/tmp/qsb-step.json"});
    // Every export with a missing, empty, unwritable or repeated path.
    for (const std::string option :
         {"--export-json", "--export-csv", "--export-markdown", "--chart", "--export-gbench", "--export-html"}) {
        bad.push_back({option});
        bad.push_back({option, ""});
        bad.push_back({option, "/nonexistent-folder/out"});
        bad.push_back({option, "/tmp"});
    }
    for (const std::string value : {"0", "-1", "0.09", "1e-300", "50.01", "50.5", "abc", "", "1e1x"}) {
        bad.push_back({"--precision", value});
    }
    bad.push_back({"--step-result", "/tmp/qsb-step-from-the-command-line.json"});
    for (const std::string value : {"0s", "abc", "5", "-1m", "2d", "s"}) {
        bad.push_back({"--precision", "2", "--max-time", value});
    }
    for (const std::string value : {"0", "1001", "x", "-2", ""}) {
        bad.push_back({"--cpus", "1", "--rounds", value});
    }
    bad.push_back({"--rounds", "2"});
    bad.push_back({"--seed", "3"});
    for (const auto& compare : std::vector<std::vector<std::string>>{
             {"compare", "a", "b", "--threshold", "0"}, {"compare", "a", "b", "--threshold", "100"},
             {"compare", "a", "b", "--alpha", "0.6"}, {"compare", "a", "b", "--allow-inconclusive"}}) {
        bad.push_back(compare);
    }
    std::vector<std::string> too_many = {"compare", "base.json"};
    for (int k = 0; k < 65; ++k) {
        too_many.push_back("new-" + std::to_string(k) + ".json");
    }
    bad.push_back(too_many);

    for (const auto& args : bad) {
        const parsed p = parse(args);
        std::string joined;
        for (const auto& a : args) {
            joined += "'" + a + "' ";
        }
        EXPECT_EQ(p.outcome.exit_code, 2) << joined;
        EXPECT_TRUE(p.out.empty()) << joined;
        EXPECT_EQ(p.err.rfind("quicksort_bench: error: ", 0), 0u) << joined << p.err;
        EXPECT_HAS(p.err, "--help") << joined << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << joined << p.err;
    }
}

TEST(Options, EveryRefusalIsOneLineInTheProgramsOwnWords) {
    const scratch_dir dir;
    write_text(dir.file("base.json"), "{}");
    std::filesystem::create_symlink(dir.file("base.json"), dir.file("alias.json"));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--values", "huge"}, "--values: must be classic or wide, got 'huge'"},
        {{"--size", "abc"}, "--size: 'abc' is not a whole number"},
        {{"--runs", "0"}, "--runs: must be between 1 and 1000000"},
        {{"--chart", "/nonexistent-folder/c.svg"}, "No such file or directory"},
        {{"--max-time", "90s"}, "--max-time limits --precision, which is not given"},
        {{"--precision", "1", "--max-runs", "5"}, "--max-runs: must be between 6 and 1000000, got 5"},
        {{"--precision", "1", "--max-time", "0h"}, "--max-time: must be a time above zero such as 90s, 30m or 2h"},
        {{"--values", "1"}, "--values: must be classic or wide, got '1'"},
        {{"--size", "10", "--size", "20"}, "--size is given twice"},
        {{"--reference", "--reference"}, "--reference is given twice"},
        {{"--chart", "--no-pause"}, "--chart needs a value, and '--no-pause' is an option"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--runs"}, "--runs needs a value"},
        {{"compare", "a.json"}, "compare needs two files: BASE.json NEW.json"},
        {{"--export-json", "-", "--chart", "-"}, "only one export can go to standard output (-)"},
        {{"compare", dir.file("base.json"), "b.json", "--export-json", dir.file("base.json")}, "is the input"},
        {{"compare", dir.file("base.json"), "b.json", "--export-html", dir.file("alias.json")}, "is the input"},
        {{"compare", "a.json", dir.file("new.json"), "--export-markdown", dir.file("new.json")}, "is the input"},
        {{"--processes", "0"}, "--processes: must be between 1 and 1000, got 0"},
        {{"--processes", "1001"}, "--processes: must be between 1 and 1000, got 1001"},
        {{"--processes", "six"}, "--processes: 'six' is not a whole number"},
        {{"--processes", "6", "--cpus", "1"}, "--processes does not combine with --cpus"},
        {{"--precision", "2", "--max-processes", "8"}, "--max-processes limits --precision over --processes"},
        {{"--processes", "6", "--max-processes", "8"}, "--max-processes limits --precision over --processes"},
        {{"--processes", "6", "--precision", "2", "--max-processes", "5"},
         "--max-processes: must be between 6 and 1000, got 5"},
        {{"--processes", "6", "--precision", "2", "--max-runs", "20"}, "--max-runs limits the sorts of one process"},
        {{"compare", "a.json", "b.json", "--drift", "0"}, "--drift: must be a percentage above 0 and at most 100"},
        {{"compare", "a.json", "b.json", "--drift", "100.5"}, "got '100.5'"},
        {{"compare", "a.json", "b.json", "--drift", "ten"}, "got 'ten'"},
        {{"history"}, "history needs an action: list, trend, compare, import or export"},
        {{"history", "compare", "1"}, "history compare needs two stored runs"},
        {{"history", "import"}, "history import needs the files to store"},
        {{"--history", "h.sqlite"}, "--history belongs to --record, which is not given"},
        {{"--size", "100", "history", "list"}, "history takes no benchmark options"},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.args);
        EXPECT_EQ(p.outcome.exit_code, 2) << c.says;
        EXPECT_EQ(p.err, std::string("quicksort_bench: error: ") + p.err.substr(24)) << p.err;
        EXPECT_HAS(p.err, c.says) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
    EXPECT_EQ(read_text(dir.file("base.json")), "{}") << "the input is untouched";
    const parsed odd = parse({"--chart=" + dir.file("--odd.svg"), "--export-json", "-"});
    EXPECT_FALSE(odd.outcome.exit_code) << odd.err;
    EXPECT_TRUE(odd.outcome.opts.exports.to_stdout());
    EXPECT_HAS(parse({"--help"}).out, "classic|wide");
    for (const char* bound : {"0.1", "50"}) {
        EXPECT_FALSE(parse({"--precision", bound}).outcome.exit_code) << bound << " is a precision one may ask for";
    }
    const options adaptive = parse({"--precision", "0.5", "--max-time", "1.5m"}).outcome.opts;
    ASSERT_TRUE(adaptive.precision);
    EXPECT_DOUBLE_EQ(adaptive.precision->target, 0.005);
    EXPECT_EQ(adaptive.sizes.run_count, 6u) << "the minimum with --precision";
    EXPECT_EQ(adaptive.precision->max_runs, 100u);
    EXPECT_EQ(adaptive.precision->max_time_ns, 90'000'000'000);
    const options over = parse({"--processes", "6", "--precision", "5"}).outcome.opts;
    ASSERT_TRUE(over.precision);
    EXPECT_EQ(over.processes, 6u);
    EXPECT_EQ(over.precision->max_processes, 30u) << "the default";
    EXPECT_EQ(over.sizes.run_count, 10u) << "each process's sorts, as without --precision";
    EXPECT_EQ(parse({"--processes", "40", "--precision", "5"}).outcome.opts.precision->max_processes, 40u);
    EXPECT_EQ(parse({"compare", "a.json", "b.json", "--drift", "100"}).outcome.opts.compare->drift, 1.0);
}

TEST(Options, TwoOutputsThatAreOneFileAreRefusedBeforeAnyWork) {
    const scratch_dir dir;
    std::filesystem::create_directories(dir.file("sub"));
    write_text(dir.file("real.json"), "kept");
    std::filesystem::create_hard_link(dir.file("real.json"), dir.file("hard.json"));
    std::filesystem::create_symlink(dir.file("later.json"), dir.file("link.json")); // to a file not there yet
    std::filesystem::create_symlink(dir.file("sub"), dir.file("folder-link"));
    const struct {
        std::string first;
        std::string second;
        bool refused;
    } pairs[] = {
        {dir.file("a.out"), dir.file("sub/../a.out"), true},
        {dir.file("a.out"), dir.file("./a.out"), true},
        {dir.file("link.json"), dir.file("later.json"), true},
        {dir.file("real.json"), dir.file("hard.json"), true},
        {dir.file("sub/x.md"), dir.file("folder-link/x.md"), true},
        {dir.file("a.out"), dir.file("sub/a.out"), false},
        {dir.file("a.out"), dir.file("a.out.bak"), false},
        {dir.file("real.json"), dir.file("sub/real.json"), false},
    };
    for (const auto& p : pairs) {
        const parsed run = parse({"--export-json", p.first, "--export-csv", p.second});
        EXPECT_EQ(run.outcome.exit_code.value_or(0), p.refused ? 2 : 0) << p.first << " and " << p.second << run.err;
        if (p.refused) {
            EXPECT_HAS(run.err, "is already the file of --export-json") << run.err;
        }
        const parsed cmp = parse({"compare", "a.json", "b.json", "--export-json", p.first, "--export-markdown", p.second});
        EXPECT_EQ(cmp.outcome.exit_code.value_or(0), p.refused ? 2 : 0) << p.first << " and " << p.second << cmp.err;
    }
    EXPECT_EQ(read_text(dir.file("real.json")), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.file("later.json"))) << "nothing is written while checking";
}

// A child (a process of a run, a step of a sweep) is given what the run measures, read back as the
// run read it; never what only the parent does (processes, sweeps, exports, the history).
TEST(Options, AChildIsGivenWhatTheRunMeasuresAndNothingElse) {
    const std::vector<std::vector<std::string>> runs = {
        {},
        {"--size", "5000", "--runs", "7", "--chunk", "300", "--values", "wide", "--reference", "--breakdown"},
        {"--processes", "4", "--precision", "2.5", "--max-processes", "9", "--max-time", "90s", "--resources",
         "--no-counters", "--export-csv", "x.csv", "--record", "--label", "v1"},
        {"--cpus", "1", "--rounds", "2", "--seed", "5", "--precision", "1", "--max-runs", "40"},
    };
    for (const auto& args : runs) {
        const parsed run = parse(args);
        ASSERT_FALSE(run.outcome.exit_code) << run.err;
        const options& o = run.outcome.opts;
        const std::vector<std::string> words = child_arguments(o);
        const parsed child = parse(words);
        ASSERT_FALSE(child.outcome.exit_code) << child.err;
        const options& c = child.outcome.opts;
        const auto goal = [](const options& x) {
            return x.precision ? std::tuple{x.precision->max_runs, x.precision->max_time_ns}
                               : std::tuple{std::uint64_t{0}, std::optional<std::int64_t>{}};
        };
        ASSERT_EQ(c.precision.has_value(), o.precision.has_value());
        if (o.precision) {
            EXPECT_DOUBLE_EQ(c.precision->target, o.precision->target);
        }
        EXPECT_EQ(std::tie(c.sizes.array_size, c.sizes.run_count, c.sizes.chunk_size, c.sizes.values, c.reference,
                           c.breakdown, c.resources, c.no_counters),
                  std::tie(o.sizes.array_size, o.sizes.run_count, o.sizes.chunk_size, o.sizes.values, o.reference,
                           o.breakdown, o.resources, o.no_counters))
            << ::testing::PrintToString(words);
        EXPECT_EQ(goal(c), goal(o)) << ::testing::PrintToString(words);
        EXPECT_TRUE(c.no_pause) << "a child never waits for a key";
        EXPECT_EQ(c.processes, 1u);
        EXPECT_FALSE(c.record);
        EXPECT_TRUE(c.exports.csv.empty() && c.cpu_counts.empty());
    }
}
