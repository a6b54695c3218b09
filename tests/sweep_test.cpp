// Sweeps over CPU counts: --cpus lists, the topology's order, steps on their CPUs, failures and interrupts.
#include <gtest/gtest.h>

#include <thread>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "machine/cpus.hpp"
#include "cli/sweep.hpp"
#include "report/stats.hpp"
#include "process.hpp"
#include "thread_limit.hpp"

namespace fs = std::filesystem;

namespace {

// Processes still running whose command line mentions `text`.
int processes_mentioning(const std::string& text) {
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string args = read_text(entry.path() / "cmdline");
        found += args.find(text) != std::string::npos && entry.path().filename() != std::to_string(::getpid());
    }
    return found;
}

// The sweep's step files go to TMPDIR: pointing it at the test's folder makes them traceable.
struct sweep_scratch : scratch_dir {
    sweep_scratch() { ::setenv("TMPDIR", path.c_str(), 1); }
    ~sweep_scratch() { ::unsetenv("TMPDIR"); }
};

const std::vector<std::string> tiny = {"--size", "20000", "--runs", "2", "--chunk", "3000"};

} // namespace

TEST(CpuCounts, ListsRangesAndAllOrARefusalNamingTheProblemAndTheUsableCount) {
    const struct {
        const char* text;
        unsigned usable;
        std::vector<unsigned> counts; // empty: refused, saying `problem`
        const char* problem;
    } cases[] = {
        {"1,2", 2, {1, 2}, ""},       {"4,1,2", 8, {1, 2, 4}, ""},  {"1-4", 4, {1, 2, 3, 4}, ""},
        {"1,3-5", 6, {1, 3, 4, 5}, ""}, {"all", 8, {1, 2, 4, 8}, ""}, {"all", 6, {1, 2, 4, 6}, ""},
        {"all", 1, {1}, ""},          {"0", 4, {}, "at least one CPU"}, {"5", 4, {}, "more CPUs than"},
        {"1,,2", 4, {}, "empty item"}, {"", 4, {}, "empty item"},   {"1,", 4, {}, "empty item"},
        {"4-2", 4, {}, "runs backwards"}, {"two", 4, {}, "not a CPU count"}, {"1.5", 4, {}, "not a CPU count"},
        {"-1", 4, {}, "empty item"},  {"2,1-3", 4, {}, "2 is given twice"}, {"99999999999", 4, {}, "more CPUs than"},
        {"+2", 4, {}, "not a CPU count"},
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(parse_cpu_counts(c.text, c.usable), c.counts) << c.text << " of " << c.usable;
        } catch (const cpu_list_error& e) {
            const std::string message = e.what();
            EXPECT_TRUE(c.counts.empty()) << c.text << ": " << message;
            EXPECT_HAS(message, c.problem) << c.text << ": " << message;
            EXPECT_HAS(message, "from 1 to 4") << message;
        }
    }
}

TEST(CpuOrder, PhysicalCoresFirstThenSecondThreadsPackageByPackage) {
    // Two packages of two cores with two threads each; the OS numbers siblings far apart.
    std::vector<cpu_slot> slots;
    const unsigned os_index[2][2][2] = {{{0, 4}, {1, 5}}, {{2, 6}, {3, 7}}};
    for (unsigned package = 0; package < 2; ++package) {
        for (unsigned core = 0; core < 2; ++core) {
            for (unsigned thread = 0; thread < 2; ++thread) {
                slots.push_back({os_index[package][core][thread], package, package, package * 2 + core, thread});
            }
        }
    }
    std::reverse(slots.begin(), slots.end());
    EXPECT_EQ(order_by_topology(slots), (std::vector<unsigned>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(Sweep, EveryStepRunsOnTheCpusItClaimsAndItsExportsHoldIt) {
    if (usable_cpu_count() < 2) {
        GTEST_SKIP() << "a sweep over 1 and 2 CPUs needs two usable CPUs";
    }
    const sweep_scratch s;
    const process_result r =
        run_process(bench_binary(), with(tiny, {"--cpus", "1,2", "--rounds", "2", "--seed", "7", "--breakdown",
                                                "--export-json", s.file("s.json"), "--export-markdown", s.file("s.md")}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << "no progress line outside a terminal: " << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^Round 1/2: Step [12]/2 on [12] CPUs? \\([-,0-9]+\\): medians ")))
        << r.out;
    EXPECT_LACKS(r.out, "Results:") << "a sweep prints no classic report";
    const auto count = [](const std::string& text, const std::string& what) {
        const std::regex pattern(what);
        return std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator());
    };
    EXPECT_EQ(count(r.out, "\nBreakdown:\n"), 4) << "each step's breakdown on the console, every round";
    EXPECT_EQ(count(read_text(s.file("s.md")), "### Breakdown on"), 2) << "and in the Markdown";
    // The chunked sort scales by its median, with an interval; the parallel loop's sorts (the last
    // table) by their throughput.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +2 +[0-9.]+ +[0-9.]+ +[0-9.]+ \[[0-9.]+, [0-9.]+\] +\d+%\n)")))
        << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +2 +[0-9.]+ +[0-9.]+ +[0-9.]+ +\d+%\n$)"))) << r.out;

    const nlohmann::json doc = nlohmann::json::parse(read_text(s.file("s.json")));
    EXPECT_EQ(doc["sweep"]["complete"], true);
    ASSERT_EQ(doc["steps"].size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& context = doc["steps"][k]["context"];
        EXPECT_EQ(context["cpus"].size(), k + 1) << "the step's own affinity mask";
        EXPECT_EQ(context["tbb_threads"], k + 1) << "oneTBB's arena saw the same CPUs";
        EXPECT_EQ(context["logical_cpus"], std::thread::hardware_concurrency()) << "the machine's count, not the step's";
        EXPECT_EQ(doc["steps"][k]["strategies"].size(), 4u);
        EXPECT_EQ(doc["steps"][k]["strategies"][2]["durations_ns"].size(), 4u) << "two rounds of two runs, pooled";
    }
    EXPECT_EQ(doc["sweep"]["rounds"], 2);
    EXPECT_EQ(doc["sweep"]["seed"], 7);
    EXPECT_EQ(doc["sweep"]["order"].size(), 2u);
    EXPECT_TRUE(doc["scaling"][2]["points"][1]["speedup_interval"].is_array()) << "every speedup has its interval";
    EXPECT_EQ(doc["scaling"][2]["points"][1]["cpus"], 2);
    // A single run of this machine against the sweep: the same machine, compared on its CPU count.
    const process_result single = run_process(bench_binary(), with(tiny, {"--export-json", s.file("one.json")}));
    ASSERT_EQ(single.exit_code, 0) << single.err;
    const process_result cmp = run_process(bench_binary(), {"compare", s.file("one.json"), s.file("s.json")});
    EXPECT_LACKS(cmp.out, "logical_cpus") << cmp.out;
}

TEST(Sweep, AFailingStepIsNamedAndTheExportSaysIncomplete) {
    QSB_SKIP_IF_SANITIZED();
    const sweep_scratch s;
    // Room for the arrays the memory model counts (under 100 MB), not for the stacks of the chunked
    // sort's 400 tasks: the sweep starts, and its step fails.
    const process_result r = run_process(
        "/bin/bash", {"-c", "ulimit -v 300000; exec '" + bench_binary() +
                                "' --cpus 1 --size 4000000 --chunk 10000 --runs 2 --values wide --export-json '" +
                                s.file("f.json") + "'"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: step 1/1 (1 CPU): ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const nlohmann::json doc = nlohmann::json::parse(read_text(s.file("f.json")));
    EXPECT_EQ(doc["sweep"]["complete"], false);
    EXPECT_TRUE(doc["steps"].empty());
    EXPECT_HAS(doc["sweep"]["failure"].get<std::string>(), "step 1/1");
}

TEST(Sweep, InterruptEndsTheRunningStepKeepsTheCompletedOnesAndLeavesNoProcess) {
    const sweep_scratch s;
    const process_result r = run_process(bench_binary(),
                                         {"--cpus", "1-" + std::to_string(usable_cpu_count()), "--size", "600000",
                                          "--runs", "3", "--export-json", s.file("i.json")},
                                         {.marker = "Step 1/", .signal = SIGINT});
    if (usable_cpu_count() < 2) {
        GTEST_SKIP() << "the only step had finished before the interrupt";
    }
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_HAS(r.err, " (2 CPUs): interrupted\n") << r.err;
    EXPECT_EQ(processes_mentioning(s.path.string()), 0) << "a step process outlived the sweep";
    const nlohmann::json doc = nlohmann::json::parse(read_text(s.file("i.json")));
    EXPECT_EQ(doc["sweep"]["complete"], false);
    EXPECT_EQ(doc["steps"].size(), 1u) << "the completed step is kept";
}

TEST(Rounds, ThePercentileIntervalCutsTwoAndAHalfPercentFromEachEnd) {
    // Nearest rank of q (n - 1): the 26th and 976th of 1001 values, the 2nd and 40th of 41, given
    // in any order.
    const struct {
        std::size_t count;
        std::pair<double, double> expected;
    } cases[] = {{1001, {25, 975}}, {41, {1, 39}}, {1, {0, 0}}};
    for (const auto& c : cases) {
        std::vector<double> values;
        for (std::size_t k = c.count; k-- > 0;) {
            values.push_back(static_cast<double>(k));
        }
        EXPECT_EQ(percentile_interval(values), c.expected) << c.count;
    }
}

TEST(Sweep, AStepThatMissesItsPrecisionTargetSaysSo) {
    const process_result r =
        run_process(bench_binary(), with(tiny, {"--cpus", "1", "--precision", "0.1", "--max-runs", "6"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_HAS(r.err, "warning: step 1/1 (1 CPU): parallel sort missed its precision target of \u00b10.1% (") << r.err;
}
