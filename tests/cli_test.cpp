#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

#include "bench/tsan_annotations.hpp"
#include "process.hpp"

namespace {

// The report's layout with any numbers in place of the measured ones.
std::string report_pattern(int runs) {
    const std::string rule(100, '-');
    const std::string stats = "Mean Average:\n\\d+ nanoseconds\\.\nMedian Average:\n\\d+ nanoseconds\\.\n";
    const std::string speedup = "(\\d+|\\d\\.\\d+e\\+\\d+|n/a)";
    return "Results:\n\nEach sort ran " + std::to_string(runs) + " times\n\n" +
           "Results for the sequential sort:\n" + stats + "\n" + rule + "\n\n" +
           "Results for the thread sort: \n" + stats + "\n" + rule + "\n\n" +
           "Results for the parallel sort:\n" + stats + rule + "\n\n" +
           "Results for the parallel_for parallel sort:\n" + stats + rule + "\n\n" +
           "Speedups for parallel to sequential: \nMean speedup: " + speedup + " times faster\\.\nMedian speedup: " +
           speedup + " times faster\\.\n\n" +
           "Speedups for parallel to just threads: \nMean speedup: " + speedup + " times faster\nMedian speedup: " +
           speedup + " times faster\n\n" +
           "Speedups for parallel quicksort using a normal for loop to using a parallel_for:\nMean speedup: " + speedup +
           " times faster\nMedian speedup: " + speedup + " times faster\n\n\n\n\n\n";
}

const std::vector<std::string> small_run = {"--size", "30000", "--runs", "3", "--chunk", "4000"};

} // namespace

TEST(Cli, PipedRunPrintsPhasesThenTheWholeReportAndDoesNotWait) {
    const process_result r = run_process(bench_binary(), small_run);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no screen clearing in a pipe";

    const std::string phases = "Sequential Sort: 0/3 tasks completed.\n"
                               "Sequential Sort: completed 1/3 tasks.\n"
                               "Sequential Sort: completed 2/3 tasks.\n"
                               "Sequential Sort: completed 3/3 tasks.\n"
                               "Quicksort just creating threads: Complete\n"
                               "Parallel Quicksort: Complete\n";
    ASSERT_EQ(r.out.substr(0, phases.size()), phases) << r.out;
    EXPECT_TRUE(std::regex_match(r.out.substr(phases.size()), std::regex(report_pattern(3)))) << r.out;
}

TEST(Cli, BreakdownFollowsAnUnchangedReportAndStaysOutOfTheTimedFigures) {
    const std::filesystem::path json =
        std::filesystem::temp_directory_path() / ("qsb-breakdown-" + std::to_string(::getpid()) + ".json");
    std::vector<std::string> args = small_run;
    args.insert(args.end(), {"--breakdown", "--values", "wide", "--export-json", json.string()});
    const process_result r = run_process(bench_binary(), args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto report_at = r.out.find("Results:\n");
    const auto breakdown_at = r.out.find("Breakdown:\n\n");
    ASSERT_NE(report_at, std::string::npos);
    ASSERT_NE(breakdown_at, std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_match(r.out.substr(report_at, breakdown_at - report_at), std::regex(report_pattern(3))))
        << r.out;
    for (const std::string heading : {"Sequential sort (quicksort):\n", "Thread sort (thread_quicksort):\n",
                                      "Parallel sort (parallel_quicksort):\n", "Concurrent phases"}) {
        EXPECT_NE(r.out.find(heading, breakdown_at), std::string::npos) << heading;
    }

    std::ifstream in(json);
    const auto doc = nlohmann::json::parse(in);
    std::filesystem::remove(json);
    EXPECT_EQ(doc["context"]["values"], "wide");
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(doc["strategies"][k]["durations_ns"].size(), 3u) << "breakdown runs are not timed runs";
        EXPECT_TRUE(doc["strategies"][k]["breakdown"]["summary"].is_string());
    }
    EXPECT_GT(doc["strategies"][2]["breakdown"]["merge_ns"].get<std::int64_t>(), 0);
}

TEST(Cli, BadOptionExitsTwoBeforeAnyWork) {
    const process_result r = run_process(bench_binary(), {"--runs", "0"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << r.err;
}

TEST(CliTerminal, WaitsForOneKeyThenExitsZero) {
    const terminal_result t = run_in_terminal(bench_binary(), small_run, "Press any key to continue . . .", 0, 60'000);
    EXPECT_TRUE(t.saw_prompt) << t.process.out;
    EXPECT_EQ(t.process.exit_code, 0) << t.process.out;
    EXPECT_TRUE(t.terminal_restored);
    EXPECT_NE(t.process.out.find("\x1b[H\x1b[2JResults:"), std::string::npos) << "cleared before the report";
}

TEST(CliTerminal, CtrlCDuringTheWaitRestoresTheTerminal) {
    const terminal_result t =
        run_in_terminal(bench_binary(), small_run, "Press any key to continue . . .", SIGINT, 60'000);
    EXPECT_TRUE(t.saw_prompt) << t.process.out;
    EXPECT_EQ(t.process.signal, SIGINT);
    EXPECT_TRUE(t.terminal_restored);
    EXPECT_NE(t.process.out.find("quicksort_bench: error: interrupted while waiting for a key"), std::string::npos);
}

TEST(CliTerminal, NoPauseSkipsTheWait) {
    std::vector<std::string> args = small_run;
    args.push_back("--no-pause");
    const terminal_result t = run_in_terminal(bench_binary(), args, "Press any key", 0, 60'000);
    EXPECT_FALSE(t.saw_prompt);
    EXPECT_EQ(t.process.exit_code, 0);
}

TEST(CliExports, AllOptionsWriteFourFilesWhoseMediansMatchTheConsole) {
#ifdef QSB_TSAN
    // std::execution::par runs on libstdc++'s oneTBB backend, whose task hand-offs ThreadSanitizer
    // cannot see; its false reports would land on the arrays this program passes in.
    GTEST_SKIP() << "--reference runs parallel std::sort, which ThreadSanitizer cannot follow";
#endif
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qsb-cli-exports-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> args = small_run;
    for (const auto& [option, file] : std::vector<std::pair<std::string, std::string>>{
             {"--export-json", "r.json"}, {"--export-csv", "r.csv"}, {"--export-markdown", "r.md"}, {"--chart", "r.svg"}}) {
        args.push_back(option);
        args.push_back((dir / file).string());
    }
    args.push_back("--reference");
    const process_result r = run_process(bench_binary(), args);
    ASSERT_EQ(r.exit_code, 0) << r.err;

    const std::regex reference_line(R"(std::sort: mean \d+ nanoseconds, median \d+ nanoseconds, \d+\.\d\d times faster than the parallel sort by median\n)");
    EXPECT_TRUE(std::regex_search(r.out, reference_line)) << r.out;
    EXPECT_NE(r.out.find("\nReference sorts:\n"), std::string::npos);

    std::ifstream json_file(dir / "r.json");
    const auto doc = nlohmann::json::parse(json_file);
    ASSERT_EQ(doc["strategies"].size(), 6u);
    const std::vector<std::string> headings = {"Results for the sequential sort:\n", "Results for the thread sort: \n",
                                               "Results for the parallel sort:\n",
                                               "Results for the parallel_for parallel sort:\n"};
    for (std::size_t k = 0; k < headings.size(); ++k) {
        const auto at = r.out.find(headings[k]);
        ASSERT_NE(at, std::string::npos) << headings[k];
        std::smatch m;
        const std::string section = r.out.substr(at);
        ASSERT_TRUE(std::regex_search(section, m, std::regex(R"(Median Average:\n(\d+) nanoseconds)")));
        EXPECT_EQ(std::to_string(doc["strategies"][k]["median_ns"].get<std::int64_t>()), m[1].str()) << headings[k];
        EXPECT_EQ(doc["strategies"][k]["durations_ns"].size(), 3u);
    }
    EXPECT_EQ(doc["strategies"][4]["name"], "std::sort");
    EXPECT_EQ(doc["context"]["run_count"], 3);

    std::ifstream csv_file(dir / "r.csv");
    std::string line;
    int rows = 0;
    while (std::getline(csv_file, line)) {
        ++rows;
    }
    EXPECT_EQ(rows, 1 + 6 * 3);
    EXPECT_GT(std::filesystem::file_size(dir / "r.md"), 0u);
    EXPECT_GT(std::filesystem::file_size(dir / "r.svg"), 0u);
    std::filesystem::remove_all(dir);
}

TEST(CliExports, UnwritablePathIsRefusedBeforeAnySort) {
    const process_result r =
        run_process(bench_binary(), {"--size", "30000", "--runs", "2", "--export-json", "/nonexistent-dir/r.json"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty()) << "nothing ran: " << r.out;
    EXPECT_NE(r.err.find("--export-json"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}
