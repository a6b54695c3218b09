#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "bench/cpus.hpp"
#include "process.hpp"
#include "thread_limit.hpp"

namespace fs = std::filesystem;

namespace {

// A scratch folder that is also the sweep's TMPDIR, so its step files can be traced.
struct scratch {
    fs::path dir = fs::temp_directory_path() / ("qsb-sweep-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    scratch() {
        fs::create_directories(dir);
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~scratch() {
        ::unsetenv("TMPDIR");
        fs::remove_all(dir);
    }
    std::string file(const char* name) const { return (dir / name).string(); }
};

nlohmann::json load(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// Processes still running whose command line mentions `text`.
int processes_mentioning(const std::string& text) {
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline");
        const std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        found += args.find(text) != std::string::npos && entry.path().filename() != std::to_string(::getpid());
    }
    return found;
}

const std::vector<std::string> tiny = {"--size", "20000", "--runs", "2", "--chunk", "3000"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

TEST(CpuCounts, ListsRangesAndAll) {
    const struct {
        const char* text;
        unsigned usable;
        std::vector<unsigned> counts;
    } cases[] = {
        {"1,2", 2, {1, 2}},       {"4,1,2", 8, {1, 2, 4}},          {"1-4", 4, {1, 2, 3, 4}},
        {"1,3-5", 6, {1, 3, 4, 5}}, {"all", 8, {1, 2, 4, 8}},      {"all", 6, {1, 2, 4, 6}},
        {"all", 1, {1}},          {"16", 16, {16}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_cpu_counts(c.text, c.usable), c.counts) << c.text << " of " << c.usable;
    }
}

TEST(CpuCounts, RefusalsNameTheProblemAndTheUsableCount) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"0", "at least one CPU"},      {"5", "more CPUs than"},     {"1,,2", "empty item"},
        {"", "empty item"},             {"1,", "empty item"},        {"4-2", "runs backwards"},
        {"two", "not a CPU count"},     {"1.5", "not a CPU count"},  {"-1", "empty item"},
        {"2,1-3", "2 is given twice"},  {"99999999999", "more CPUs than"}, {"+2", "not a CPU count"},
    };
    for (const auto& c : cases) {
        try {
            parse_cpu_counts(c.text, 4);
            ADD_FAILURE() << "accepted '" << c.text << "'";
        } catch (const cpu_list_error& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.problem), std::string::npos) << c.text << ": " << message;
            EXPECT_NE(message.find("from 1 to 4"), std::string::npos) << message;
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

TEST(Sweep, EveryStepRunsOnTheCpusItClaimsAndEveryExportHoldsIt) {
    if (usable_cpu_count() < 2) {
        GTEST_SKIP() << "a sweep over 1 and 2 CPUs needs two usable CPUs";
    }
    const scratch s;
    const process_result r =
        run_process(bench_binary(), with(tiny, {"--cpus", "1,2", "--export-json", s.file("s.json"), "--export-csv",
                                                s.file("s.csv"), "--chart", s.file("s.svg")}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << "no progress line outside a terminal: " << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^Step 1/2 on 1 CPU \\(\\d+\\): medians sequential sort ")));
    EXPECT_EQ(r.out.find("Results:"), std::string::npos) << "a sweep prints no classic report";
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n +2 +[0-9.]+ +[0-9.]+ +\d+%\n$)"))) << r.out;

    const nlohmann::json doc = load(s.file("s.json"));
    EXPECT_EQ(doc["sweep"]["complete"], true);
    ASSERT_EQ(doc["steps"].size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& context = doc["steps"][k]["context"];
        EXPECT_EQ(context["cpus"].size(), k + 1) << "the step's own affinity mask";
        EXPECT_EQ(context["tbb_threads"], k + 1) << "oneTBB's arena saw the same CPUs";
        EXPECT_EQ(doc["steps"][k]["strategies"].size(), 4u);
    }
    EXPECT_EQ(doc["scaling"][2]["points"][1]["cpus"], 2);

    std::ifstream csv(s.file("s.csv"));
    std::string header;
    std::getline(csv, header);
    EXPECT_EQ(header, "cpus,strategy,run,nanoseconds,values\r");
    std::ifstream svg(s.file("s.svg"));
    const std::string chart((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
    const std::regex point("class=\"point\"");
    EXPECT_EQ(std::distance(std::sregex_iterator(chart.begin(), chart.end(), point), std::sregex_iterator()), 8)
        << "two points for each of four strategies";
}

TEST(Sweep, AFailingStepIsNamedAndTheExportSaysIncomplete) {
    QSB_SKIP_IF_SANITIZED();
    const scratch s;
    // Room for the sweep itself, not for a step's ten queued arrays.
    const process_result r = run_process(
        "/bin/bash", {"-c", "ulimit -v 120000; exec '" + bench_binary() +
                                "' --cpus 1 --size 20000000 --runs 2 --export-json '" + s.file("f.json") + "'"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: step 1/1 (1 CPU): ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const nlohmann::json doc = load(s.file("f.json"));
    EXPECT_EQ(doc["sweep"]["complete"], false);
    EXPECT_TRUE(doc["steps"].empty());
    EXPECT_NE(doc["sweep"]["failure"].get<std::string>().find("step 1/1"), std::string::npos);
}

TEST(Sweep, InterruptEndsTheRunningStepKeepsTheCompletedOnesAndLeavesNoProcess) {
    const scratch s;
    const process_result r =
        run_until_output(bench_binary(),
                         {"--cpus", "1-" + std::to_string(usable_cpu_count()), "--size", "600000", "--runs", "3",
                          "--export-json", s.file("i.json")},
                         "Step 1/", SIGINT, 120'000);
    if (usable_cpu_count() < 2) {
        GTEST_SKIP() << "the only step had finished before the interrupt";
    }
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_NE(r.err.find("step 2/"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(processes_mentioning(s.dir.string()), 0) << "a step process outlived the sweep";
    const nlohmann::json doc = load(s.file("i.json"));
    EXPECT_EQ(doc["sweep"]["complete"], false);
    EXPECT_EQ(doc["steps"].size(), 1u) << "the completed step is kept";
}
