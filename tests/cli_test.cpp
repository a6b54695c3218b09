// The built binary end to end: what a person sees in a pipe and on a terminal, and its files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "process.hpp"
#include "records/json_reader.hpp"

namespace {

// The report's layout with any numbers in place of the measured ones.
std::string report_pattern(int runs) {
    const std::string rule = std::string(100, '-') + "\n\n";
    const std::string stats = "Mean Average:\n\\d+ nanoseconds\\.\nMedian Average:\n\\d+ nanoseconds\\.\n";
    const auto speedups = [](const std::string& heading, const std::string& end) {
        const std::string speedup = "(\\d+|\\d\\.\\d+e\\+\\d+|n/a)";
        return heading + "\nMean speedup: " + speedup + " times faster" + end + "\nMedian speedup: " + speedup +
               " times faster" + end + "\n\n";
    };
    return "Results:\n\nEach sort ran " + std::to_string(runs) + " times\n\nResults for the sequential sort:\n" + stats +
           "\n" + rule + "Results for the thread sort: \n" + stats + "\n" + rule + "Results for the parallel sort:\n" +
           stats + rule + "Results for the parallel_for parallel sort:\n" + stats + rule +
           speedups("Speedups for parallel to sequential: ", "\\.") + speedups("Speedups for parallel to just threads: ", "") +
           speedups("Speedups for parallel quicksort using a normal for loop to using a parallel_for:", "") + "\n\n\n\n";
}

const std::vector<std::string> small_run = {"--size", "30000", "--runs", "3", "--chunk", "4000"};

} // namespace

TEST(Cli, PipedRunPrintsPhasesThenTheWholeReportAndDoesNotWait) {
    const process_result r = run_process(bench_binary(), small_run);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Three runs give no interval of a median: each strategy's advice (and maybe a noisy sort's),
    // nothing else, on stderr.
    EXPECT_TRUE(std::regex_match(r.err, std::regex("(advice: [^\n]+\n)+"))) << r.err;
    const std::regex too_few(": too few runs \\(3\\) for an interval of its median; at least 6 runs are needed");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.err.begin(), r.err.end(), too_few), std::sregex_iterator()), 4);
    EXPECT_LACKS(r.out, '\x1b') << "no screen clearing in a pipe";
    const std::string phases = "Sequential Sort: 0/3 tasks completed.\n"
                               "Sequential Sort: completed 1/3 tasks.\n"
                               "Sequential Sort: completed 2/3 tasks.\n"
                               "Sequential Sort: completed 3/3 tasks.\n"
                               "Quicksort just creating threads: Complete\n"
                               "Parallel Quicksort: Complete\n";
    ASSERT_EQ(r.out.substr(0, phases.size()), phases) << r.out;
    EXPECT_TRUE(std::regex_match(r.out.substr(phases.size()), std::regex(report_pattern(3)))) << r.out;
}

TEST(Cli, BreakdownFollowsAnUnchangedReportAndTheExportAgreesWithTheConsole) {
    const scratch_dir dir;
    const auto file = [&](const char* name) { return dir.file(name); };
    const process_result r = run_process(
        bench_binary(), with(small_run, {"--breakdown", "--values", "wide", "--export-json", file("r.json")}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto report_at = r.out.find("Results:\n");
    const auto breakdown_at = r.out.find("Breakdown:\n\n");
    ASSERT_NE(breakdown_at, std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_match(r.out.substr(report_at, breakdown_at - report_at), std::regex(report_pattern(3))));
    for (const std::string heading : {"Sequential sort (quicksort):\n", "Thread sort (thread_quicksort):\n",
                                      "Parallel sort (parallel_quicksort):\n", "Concurrent phases"}) {
        EXPECT_NE(r.out.find(heading, breakdown_at), std::string::npos) << heading;
    }

    const auto doc = nlohmann::json::parse(read_text(file("r.json")));
    EXPECT_EQ(doc["context"]["values"], "wide");
    const char* headings[] = {"Results for the sequential sort:\n", "Results for the thread sort: \n",
                              "Results for the parallel sort:\n", "Results for the parallel_for parallel sort:\n"};
    for (std::size_t k = 0; k < 4; ++k) {
        std::smatch m;
        const std::string section = r.out.substr(r.out.find(headings[k]));
        ASSERT_TRUE(std::regex_search(section, m, std::regex(R"(Median Average:\n(\d+) nanoseconds)")));
        EXPECT_EQ(std::to_string(doc["strategies"][k]["median_ns"].get<std::int64_t>()), m[1].str()) << headings[k];
        EXPECT_EQ(doc["strategies"][k]["durations_ns"].size(), 3u) << "breakdown runs are not timed runs";
        EXPECT_TRUE(doc["strategies"][k]["breakdown"]["summary"].is_string());
    }
}

TEST(CliTerminal, WaitsForOneKeyAndRestoresTheTerminalEvenOnCtrlC) {
    const std::string prompt = "Press any key to continue . . .";
    const process_result key = run_process(bench_binary(), small_run, {.terminal = true, .marker = prompt});
    EXPECT_TRUE(key.saw_marker) << key.out;
    EXPECT_EQ(key.exit_code, 0) << key.out;
    EXPECT_TRUE(key.terminal_restored);
    EXPECT_HAS(key.out, "\x1b[H\x1b[2JResults:") << "cleared before the report";

    const process_result ctrl_c =
        run_process(bench_binary(), small_run, {.terminal = true, .marker = prompt, .signal = SIGINT});
    EXPECT_EQ(ctrl_c.signal, SIGINT);
    EXPECT_TRUE(ctrl_c.terminal_restored);
    EXPECT_HAS(ctrl_c.out, "quicksort_bench: error: interrupted while waiting for a key");

    const process_result no_pause =
        run_process(bench_binary(), with(small_run, {"--no-pause"}), {.terminal = true, .marker = "Press any key"});
    EXPECT_FALSE(no_pause.saw_marker);
    EXPECT_EQ(no_pause.exit_code, 0);
}

TEST(Cli, AnExportToADashOwnsStandardOutput) {
    const process_result r = run_process(bench_binary(), with(small_run, {"--export-json", "-"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["context"]["run_count"], 3) << "standard output is the export alone";
    EXPECT_HAS(r.err, "Parallel Quicksort: Complete\nResults:\n") << r.err;
}

TEST(CliTerminal, NoWaitWhenOutputGoesToAFileOrTheJobRunsInTheBackground) {
    const scratch_dir dir;
    const std::string prompt = "Press any key";
    const process_result to_file = run_process(
        bench_binary(), small_run, {.terminal = true, .marker = prompt, .stdout_file = dir.file("out.txt")});
    EXPECT_EQ(to_file.exit_code, 0);
    EXPECT_FALSE(to_file.saw_marker);
    const std::string saved = read_text(dir.file("out.txt"));
    EXPECT_HAS(saved, "Results:");
    EXPECT_LACKS(saved, prompt);
    // The other phases' progress lines went to the terminal, each erased when its phase ended.
    EXPECT_HAS(to_file.out, "parallel_for parallel sort, sort ") << to_file.out;
    const std::string after_last_erase = to_file.out.substr(to_file.out.rfind("\r\x1b[K") + 4);
    EXPECT_TRUE(std::regex_match(after_last_erase, std::regex("(advice: [^\r\n]*\r\n)*"))) << to_file.out;

    const process_result background =
        run_process(bench_binary(), small_run, {.terminal = true, .marker = prompt, .background = true});
    EXPECT_EQ(background.exit_code, 0) << "150 would mean the terminal stopped the job";
    EXPECT_FALSE(background.saw_marker);
    EXPECT_HAS(background.out, "Results:");
}

TEST(Cli, PrecisionGoalRecordsEachStrategysIntervalCountAndVerdict) {
    const process_result r = run_process(
        bench_binary(), {"--size", "20000", "--chunk", "3000", "--precision", "50", "--max-runs", "8", "--export-json", "-"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_HAS(r.err, "Precision of the medians (target \u00b150.0%") << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["context"]["precision"]["max_runs"], 8);
    for (const auto& s : doc["strategies"]) {
        const auto runs = s["runs"].get<std::size_t>();
        EXPECT_TRUE(runs >= 6 && runs <= 8) << s["name"];
        EXPECT_EQ(s["durations_ns"].size(), runs);
        ASSERT_TRUE(s["median_interval_ns"].is_array()) << s["name"];
        EXPECT_LE(s["median_interval_ns"][0], s["median_ns"]);
        EXPECT_GE(s["median_interval_ns"][1], s["median_ns"]);
        EXPECT_EQ(s["target_reached"], s["median_precision"].get<double>() <= 0.5);
    }
    EXPECT_EQ(parse_export(r.out).sweep.steps.at(0).results.strategies.size(), 4u) << "compare reads it back";
    // Without --resources no counter is opened: they would cost the timed sorts something.
    ASSERT_FALSE(doc["resources"].empty());
    for (const auto& phase : doc["resources"]) {
        for (const auto& [name, value] : phase["counters"].items()) {
            EXPECT_TRUE(value.is_string() && value.get<std::string>().find("not opened") != std::string::npos)
                << phase["phase"] << " " << name << ": " << value;
        }
    }
}

// A run of processes and a sweep show each child's progress on the terminal, under the child's
// name, and erase it before the report.
TEST(CliTerminal, EachChildsProgressShowsUnderItsName) {
    for (const auto& [more, name] : {std::pair<std::vector<std::string>, std::string>{{"--processes", "2"}, "process 2/2"},
                                     {{"--cpus", "1"}, "step 1/1 (1 CPU)"}}) {
        const process_result r =
            run_process(bench_binary(), with(with(small_run, {"--no-pause"}), more), {.terminal = true});
        EXPECT_EQ(r.exit_code, 0) << r.out;
        EXPECT_HAS(r.out, "\r\x1b[K" + name + ", parallel sort, sort 1 of 3") << r.out;
        EXPECT_LACKS(r.out.substr(r.out.rfind("\r\x1b[K")), "elapsed") << "a progress line outlived its child";
    }
}
