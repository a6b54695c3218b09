// `compare`: the U test against SciPy, verdicts and the gate, hostile files, Google Benchmark's format.
#include <gtest/gtest.h>

#include <chrono>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "process.hpp"
#include "records/json_reader.hpp"
#include "report/stats.hpp"

namespace fs = std::filesystem;

namespace {

// An export of a small run, made once by the binary for every test here.
class Compare : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = fs::temp_directory_path() / ("qsb-compare-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        const process_result r = run_process(
            bench_binary(), {"--size", "20000", "--runs", "5", "--chunk", "3000", "--export-json", path("a.json")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }
    static process_result compare(const std::vector<std::string>& more) {
        return run_process(bench_binary(), with({"compare"}, more));
    }
    static std::string path(const std::string& name) { return (dir / name).string(); }
    static inline fs::path dir;
};

} // namespace

TEST(MannWhitney, AgreesWithScipyOnExactAndTiedSamples) {
    // Reference values from SciPy 1.10's mannwhitneyu(x, y, alternative='two-sided').
    const struct {
        duration_list x, y;
        double u, p;
        bool exact;
    } cases[] = {
        {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, 0, 0.007936507936507936, true},
        {{1, 2}, {3, 4, 5}, 0, 0.2, true},
        {{3, 1, 4, 1, 5, 9, 2, 6}, {5, 3, 5, 8, 9, 7, 9, 3}, 17, 0.12415307686326289, false},
        {{100, 101, 102, 103, 104, 105, 106, 107, 108, 109},
         {105, 106, 107, 108, 109, 110, 111, 112, 113, 114}, 12.5, 0.005075392315273923, false},
        {{7, 7, 7, 7, 7}, {7, 7, 7, 7, 7}, 12.5, 1.0, false},
    };
    for (const auto& c : cases) {
        const u_test t = mann_whitney_u(c.x, c.y);
        EXPECT_DOUBLE_EQ(t.u, c.u) << ::testing::PrintToString(c.x);
        EXPECT_NEAR(t.p_value, c.p, 1e-12) << ::testing::PrintToString(c.x);
        EXPECT_EQ(t.exact, c.exact) << ::testing::PrintToString(c.x);
    }
}

TEST_F(Compare, VerdictsTheGateAndPartialAndManyRuns) {
    // Runs whose every sort is 100 ms plus 0.2 ms per run, shifted by `offset`: the shifts below
    // are known exactly (the Hodges-Lehmann interval of two such samples of five is the middle of
    // their differences, offset +- 0.6 ms).
    const auto steady = [&](const char* name, std::int64_t offset, std::size_t runs) {
        nlohmann::json doc = nlohmann::json::parse(read_text(dir / "a.json"));
        doc["context"]["run_count"] = runs;
        for (auto& s : doc["strategies"]) {
            s.erase("cpu_ns");
            s.erase("array_ids");
            s["durations_ns"] = nlohmann::json::array();
            for (std::size_t k = 0; k < runs; ++k) {
                s["durations_ns"].push_back(100'000'000 + 200'000 * static_cast<std::int64_t>(k) + offset);
            }
        }
        write_text(dir / name, doc.dump());
        return path(name);
    };
    const std::string base = steady("steady.json", 0, 5);
    const std::string slow = steady("slow.json", 50'000'000, 5);
    const std::string slight = steady("slight.json", 1'500'000, 5);
    const std::string same = steady("same.json", 500'000, 5);

    // One process a side: its sorts cannot show the drift between processes, so without an
    // allowance nothing is decided, however clear the shift; the shift is still shown.
    const process_result unjudged = compare({base, slow, "--fail-on-slower"});
    EXPECT_EQ(unjudged.exit_code, 3);
    EXPECT_HAS(unjudged.out, "+49.8% [+49.2%, +50.4%]    0.0317  too few processes to decide (1 vs 1 processes; " "about 5 a side would decide: --processes 5) [sorts]")
        << unjudged.out;
    EXPECT_EQ(compare({base, slow, "--fail-on-slower", "--allow-inconclusive"}).exit_code, 0);

    // With a drift of 2%, as large as the threshold, the sorts decide as they would over processes.
    const process_result slower = compare({base, slow, "--drift", "2", "--fail-on-slower", "--export-markdown",
                                           path("c.md"), "--export-json", path("c.json")});
    EXPECT_EQ(slower.exit_code, 1);
    const std::regex row(R"(\n(sequential sort|thread sort|parallel sort|parallel_for parallel sort) +[0-9.]+ +[0-9.]+ +[-+][0-9.]+% \[[-+][0-9.]+%, [-+][0-9.]+%\] +(<0\.0001|[01]\.\d{4})  slower \(weak: fewer than 9 runs\) \[sorts, drift ±2\.0%\](?=\n))");
    EXPECT_EQ(std::distance(std::sregex_iterator(slower.out.begin(), slower.out.end(), row), std::sregex_iterator()), 4)
        << slower.out;
    const nlohmann::json doc = nlohmann::json::parse(read_text(dir / "c.json"));
    EXPECT_EQ(doc["steps"][0]["strategies"][3]["verdict"], "slower");
    EXPECT_EQ(doc["steps"][0]["strategies"][3]["shift_ns"], 50'000'000);
    EXPECT_EQ(doc["steps"][0]["strategies"][3]["shift_interval_ns"], nlohmann::json::array({49'400'000, 50'600'000}));
    EXPECT_HAS(read_text(dir / "c.md"), "| parallel sort | 100.40 | 150.40 | +49.8% [+49.2%, +50.4%] | 0.0317 | " "slower (weak: fewer than 9 runs) \\[sorts, drift \u00b12.0%\\] |");
    EXPECT_HAS(compare({slow, base, "--drift", "2"}).out, "-33.2% [-33.6%, -32.8%]    0.0317  faster");
    EXPECT_HAS(compare({base, slow, "--drift", "60"}).out, "too few processes to decide")
        << "+50% is within a drift of 60%";

    // Within the threshold as a whole: equivalent, and the gate passes.
    const process_result equivalent = compare({base, same, "--drift", "2", "--fail-on-slower"});
    EXPECT_EQ(equivalent.exit_code, 0) << equivalent.err;
    EXPECT_HAS(equivalent.out, "+0.5% [-0.1%, +1.1%]    0.2222  equivalent") << equivalent.out;
    // Significant, but the interval reaches inside the threshold: neither slower nor equivalent.
    const process_result undecided = compare({base, slight, "--drift", "2", "--fail-on-slower"});
    EXPECT_EQ(undecided.exit_code, 3);
    EXPECT_HAS(undecided.out, "0.0317  inconclusive (about ") << undecided.out;
    EXPECT_HAS(undecided.err, "parallel sort (inconclusive)") << undecided.err;
    EXPECT_EQ(compare({base, slight, "--drift", "2", "--fail-on-slower", "--allow-inconclusive"}).exit_code, 0);
    EXPECT_EQ(compare({base, slight, "--threshold", "0.5", "--drift", "0.5", "--fail-on-slower"}).exit_code, 1);
    EXPECT_LACKS(compare({base, slight, "--threshold", "0.5", "--drift", "0.5", "--alpha", "0.02"}).out, "slower")
        << "each p = 0.0079 is below 0.02, but Holm's adjustment for the four strategies makes it 0.0317";

    // Fewer than five runs on a side: no verdict at all, however clear the change; the gate says so.
    const process_result too_few = compare({base, steady("few.json", 50'000'000, 4), "--fail-on-slower"});
    EXPECT_EQ(too_few.exit_code, 3);
    EXPECT_HAS(too_few.out, "n/a  too few runs to test") << too_few.out;
    EXPECT_HAS(too_few.out, "run_count: 5 -> 4") << "differences are listed";

    // What both runs share is compared; the rest is listed. Several new runs: a row each.
    nlohmann::json extra = nlohmann::json::parse(read_text(dir / "slow.json"));
    extra["strategies"].push_back({{"name", "std::sort"}, {"reference", true}, {"durations_ns", {1, 2, 3, 4, 5}}});
    write_text(dir / "extra.json", extra.dump());
    const process_result many = compare({base, path("extra.json"), same});
    EXPECT_EQ(many.exit_code, 0) << many.err;
    EXPECT_HAS(many.out, "Not compared:\n  only in " + path("extra.json") + ": std::sort\n") << many.out;
    EXPECT_HAS(many.out, "\nparallel sort [1] ") << many.out;
    EXPECT_HAS(many.out, "\nparallel sort [2] ") << many.out;
}

TEST_F(Compare, HostileFilesEndWithOneLineNamingTheFile) {
    const std::string good = read_text(dir / "a.json");
    const auto edited = [&](const std::function<void(nlohmann::json&)>& edit) {
        nlohmann::json doc = nlohmann::json::parse(good);
        edit(doc);
        return doc.dump();
    };
    const struct {
        const char* name;
        std::string text; // empty with `create` false: the file does not exist
        bool create;
        const char* says;
    } cases[] = {
        {"missing.json", "", false, "cannot be read (No such file or directory)"},
        {"array.json", "[1, 2]", true, "the top level: not a result record"},
        {"empty.json", "", true, "empty file"},
        {"text.json", "not json at all", true, "not valid JSON"},
        {"truncated.json", good.substr(0, good.size() / 2), true, "not valid JSON"},
        {"schema.json", R"({"benchmarks": []})", true, "context: missing"},
        {"negative.json", edited([](auto& d) { d["strategies"][1]["durations_ns"][2] = -5; }), true,
         "strategies[1].durations_ns[2]: -5 is out of range"},
        {"short.json", edited([](auto& d) { d["strategies"][0]["durations_ns"].erase(0); }), true,
         "4 durations where context.run_count is 5"},
        {"renamed.json", edited([](auto& d) { d["strategies"][2]["name"] = "other sort"; }), true,
         "expected \"parallel sort\""},
        {"other-size.json", edited([](auto& d) { d["context"]["array_size"] = 30000; }), true,
         "context.array_size is 20000 in the base and 30000"},
        {"wide.json", edited([](auto& d) { d["context"]["values"] = "wide"; }), true,
         "context.values is classic in the base and wide"},
        {"elsewhere.json", edited([](auto& d) {
             // A sweep whose only step ran on more CPUs than the base run's machine has.
             const unsigned cpus = d["context"]["logical_cpus"].template get<unsigned>() + 1;
             d["context"]["cpus"] = std::vector<unsigned>(cpus, 0);
             d["context"]["tbb_threads"] = cpus;
             d = {{"sweep", {{"cpu_counts", {cpus}}, {"complete", true}, {"failure", nullptr}}}, {"steps", {d}}};
         }), true, "have nothing in common"},
    };
    for (const auto& c : cases) {
        const fs::path file = dir / c.name;
        if (c.create) {
            write_text(file, c.text);
        }
        const process_result r = compare({path("a.json"), file.string()});
        EXPECT_EQ(r.exit_code, 2) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << c.name << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
        EXPECT_HAS(r.err, c.says) << c.name << ": " << r.err;
        EXPECT_TRUE(r.err.find(c.name) != std::string::npos || r.err.find("measure") != std::string::npos) << r.err;
    }
    EXPECT_THROW(read_export_file(path("a.json"), 1000), export_error) << "a file over the size limit";

    // A folder says why; an endless stream is refused at its first bytes, not after the limit.
    fs::create_directory(dir / "folder.json");
    const process_result folder = compare({path("a.json"), path("folder.json")});
    EXPECT_EQ(folder.exit_code, 2);
    EXPECT_HAS(folder.err, "'" + path("folder.json") + "': cannot be read (it is a folder, not a file)") << folder.err;
    const auto start = std::chrono::steady_clock::now();
    const process_result zeros = compare({path("a.json"), "/dev/zero"});
    EXPECT_EQ(zeros.exit_code, 2) << zeros.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "read 256 MiB of zeros first";
    EXPECT_LACKS(zeros.err, "larger than") << "refused at its first bytes: " << zeros.err;
}

#ifdef QSB_GBENCH_PEER
// --export-gbench must read like Google Benchmark's own JSON to the tools that consume it: every
// key ours writes exists in the real thing with the same JSON type.
namespace {

// Google Benchmark writes whole numbers for some fields that are doubles in general; both are numbers.
std::string type_of(const nlohmann::json& value) {
    return value.is_number() ? "number" : value.type_name();
}

void expect_same_keys_and_types(const nlohmann::json& ours, const nlohmann::json& theirs, const std::string& where) {
    for (const auto& [key, value] : ours.items()) {
        ASSERT_TRUE(theirs.contains(key)) << where << "." << key << " is not in Google Benchmark's output";
        EXPECT_EQ(type_of(value), type_of(theirs[key])) << where << "." << key;
    }
}

} // namespace

TEST(GbenchFormat, EveryKeyAndTypeMatchesGoogleBenchmarksOwnOutput) {
    const scratch_dir dir;
    const process_result peer =
        run_process(QSB_GBENCH_PEER, {"--benchmark_repetitions=3", "--benchmark_min_time=0.001",
                                      "--benchmark_out_format=json", "--benchmark_out=" + dir.file("theirs.json")});
    ASSERT_EQ(peer.exit_code, 0) << peer.err;
    const process_result bench = run_process(
        bench_binary(), {"--size", "20000", "--runs", "3", "--chunk", "3000", "--export-gbench", dir.file("ours.json")});
    ASSERT_EQ(bench.exit_code, 0) << bench.err;
    const nlohmann::json theirs = nlohmann::json::parse(read_text(dir.file("theirs.json")));
    const nlohmann::json ours = nlohmann::json::parse(read_text(dir.file("ours.json")));

    expect_same_keys_and_types(ours["context"], theirs["context"], "context");
    // Their entries by kind: the iteration runs and each aggregate.
    std::map<std::string, nlohmann::json> reference;
    for (const auto& entry : theirs["benchmarks"]) {
        reference[entry["run_type"].get<std::string>() + entry.value("aggregate_name", "")] = entry;
    }
    std::map<std::string, int> seen;
    for (const auto& entry : ours["benchmarks"]) {
        const std::string kind = entry["run_type"].get<std::string>() + entry.value("aggregate_name", "");
        ASSERT_TRUE(reference.count(kind)) << kind;
        expect_same_keys_and_types(entry, reference[kind], entry["name"].get<std::string>());
        ++seen[kind];
    }
    EXPECT_EQ(seen["iteration"], 4 * 3) << "one entry per measured sort";
    // Each sort's time as Google Benchmark reads it: real_time in time_unit, named with the size.
    const nlohmann::json first = ours["benchmarks"][0];
    EXPECT_EQ(first["name"], "sequential sort/20000");
    EXPECT_EQ(first["time_unit"], "ns");
    EXPECT_GT(first["real_time"].get<double>(), 0);
    EXPECT_EQ(ours["context"]["load_avg"].size(), 3u);
    if (!theirs["context"]["caches"].empty()) {
        ASSERT_FALSE(ours["context"]["caches"].empty()) << "hwloc knows the caches Google Benchmark found";
        expect_same_keys_and_types(ours["context"]["caches"][0], theirs["context"]["caches"][0], "caches[0]");
        EXPECT_EQ(ours["context"]["caches"][0]["size"], theirs["context"]["caches"][0]["size"]);
    }
    EXPECT_EQ(ours["context"]["cpu_scaling_enabled"], theirs["context"]["cpu_scaling_enabled"]);
    for (const char* aggregate : {"aggregatemean", "aggregatemedian", "aggregatestddev", "aggregatecv"}) {
        EXPECT_EQ(seen[aggregate], 4) << aggregate;
    }
}
#endif
