#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "process.hpp"
#include "report/json_reader.hpp"
#include "report/stats.hpp"

namespace fs = std::filesystem;

namespace {

fs::path scratch_dir() {
    const fs::path dir = fs::temp_directory_path() / ("qsb-compare-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spill(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// Two exports of the same small work, made once by the binary for every test here.
class Compare : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = scratch_dir();
        for (const char* name : {"a.json", "b.json"}) {
            const process_result r = run_process(bench_binary(), {"--size", "20000", "--runs", "5", "--chunk", "3000",
                                                                  "--export-json", (dir / name).string()});
            ASSERT_EQ(r.exit_code, 0) << r.err;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }

    static process_result compare(const std::vector<std::string>& more) {
        std::vector<std::string> args = {"compare"};
        args.insert(args.end(), more.begin(), more.end());
        return run_process(bench_binary(), args);
    }
    static std::string path(const char* name) { return (dir / name).string(); }

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
        {{10, 20, 30, 40, 50}, {15, 25, 35, 45, 55}, 10, 0.6904761904761905, true},
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

TEST(MannWhitney, AgreesWithScipyOnRandomSamples) {
    if (std::system("/usr/bin/python3 -c 'import scipy.stats' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3-scipy is not installed";
    }
    // Sizes on both sides of the exact/asymptotic switch, few and many ties.
    std::mt19937 rng(7);
    nlohmann::json samples = nlohmann::json::array();
    std::vector<u_test> ours;
    for (int k = 0; k < 40; ++k) {
        const std::size_t m = 2 + rng() % 14;
        const std::size_t n = 2 + rng() % 14;
        const std::uint32_t spread = k % 2 == 0 ? 1'000'000 : 6;
        duration_list x(m);
        duration_list y(n);
        for (auto& v : x) {
            v = rng() % spread;
        }
        for (auto& v : y) {
            v = rng() % spread + (k % 3 == 0 ? spread / 3 : 0);
        }
        samples.push_back({x, y});
        ours.push_back(mann_whitney_u(x, y));
    }
    const fs::path dir = scratch_dir();
    spill(dir / "samples.json", samples.dump());
    const std::string script = "import json, sys\nfrom scipy.stats import mannwhitneyu\n"
                               "for x, y in json.load(open(sys.argv[1])):\n"
                               "    print(repr(mannwhitneyu(x, y, alternative='two-sided').pvalue))\n";
    spill(dir / "p.py", script);
    const process_result r = run_process("/usr/bin/python3", {(dir / "p.py").string(), (dir / "samples.json").string()});
    fs::remove_all(dir);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::istringstream lines(r.out);
    for (std::size_t k = 0; k < ours.size(); ++k) {
        double p = -1;
        ASSERT_TRUE(lines >> p) << "SciPy printed too few values";
        EXPECT_NEAR(ours[k].p_value, p, 1e-9) << samples[k].dump();
    }
}

TEST_F(Compare, TwoRunsGiveAFiveColumnRowPerStrategy) {
    const process_result r = compare({path("a.json"), path("b.json"), "--export-markdown", path("c.md"),
                                      "--export-json", path("c.json")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::regex row(R"(\n(sequential sort|thread sort|parallel sort|parallel_for parallel sort) +[0-9.]+ +[0-9.]+ +[-+][0-9.]+% +(<0\.0001|[01]\.\d{4}) +(faster|slower|no change)(?=\n))");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), row), std::sregex_iterator()), 4)
        << r.out;
    const auto doc = nlohmann::json::parse(slurp(dir / "c.json"));
    EXPECT_EQ(doc["steps"][0]["strategies"].size(), 4u);
    EXPECT_EQ(doc["steps"][0]["strategies"][0]["base_durations_ns"].size(), 5u);
    EXPECT_NE(slurp(dir / "c.md").find("| parallel sort | "), std::string::npos);
}

TEST_F(Compare, VerdictsAndTheCiGate) {
    // The new run: every sort 50% slower, or only 1% slower (below the threshold).
    const auto scaled = [](const std::string& text, double factor) {
        nlohmann::json doc = nlohmann::json::parse(text);
        for (auto& s : doc["strategies"]) {
            for (auto& d : s["durations_ns"]) {
                d = static_cast<std::int64_t>(static_cast<double>(d.get<std::int64_t>()) * factor);
            }
        }
        return doc.dump();
    };
    spill(dir / "slow.json", scaled(slurp(dir / "a.json"), 1.5));
    // Two runs whose every sort differs by 1.5%, with no overlap: real, but below the 2% threshold.
    const auto steady = [&](std::int64_t offset) {
        nlohmann::json doc = nlohmann::json::parse(slurp(dir / "a.json"));
        for (auto& s : doc["strategies"]) {
            for (std::size_t k = 0; k < s["durations_ns"].size(); ++k) {
                s["durations_ns"][k] = 100'000'000 + 200'000 * static_cast<std::int64_t>(k) + offset;
            }
        }
        return doc.dump();
    };
    spill(dir / "steady.json", steady(0));
    spill(dir / "slight.json", steady(1'500'000));

    const process_result slower = compare({path("a.json"), path("slow.json"), "--fail-on-slower"});
    EXPECT_EQ(slower.exit_code, 1);
    EXPECT_NE(slower.out.find("+50.0%"), std::string::npos) << slower.out;
    EXPECT_NE(slower.out.find("  slower\n"), std::string::npos) << slower.out;
    EXPECT_EQ(compare({path("slow.json"), path("a.json")}).out.find("slower"), std::string::npos) << "faster";

    const process_result slight = compare({path("steady.json"), path("slight.json"), "--fail-on-slower"});
    EXPECT_EQ(slight.exit_code, 0) << "a 1.5% change is below the default 2% threshold";
    EXPECT_NE(slight.out.find("0.0079  no change"), std::string::npos) << slight.out;
    EXPECT_EQ(compare({path("steady.json"), path("slight.json"), "--threshold", "1", "--fail-on-slower"}).exit_code, 1);
    EXPECT_EQ(compare({path("steady.json"), path("slight.json"), "--threshold", "1", "--alpha", "0.005"}).out.find(
                  "slower"),
              std::string::npos)
        << "p = 0.0079 is not below alpha 0.005";

    // Fewer than five runs on a side: no verdict at all.
    nlohmann::json few = nlohmann::json::parse(slurp(dir / "slow.json"));
    few["context"]["run_count"] = 4;
    for (auto& s : few["strategies"]) {
        s["durations_ns"].erase(s["durations_ns"].begin());
    }
    spill(dir / "few.json", few.dump());
    const process_result too_few = compare({path("a.json"), path("few.json"), "--fail-on-slower"});
    EXPECT_EQ(too_few.exit_code, 0);
    EXPECT_NE(too_few.out.find("too few runs to test"), std::string::npos);
    EXPECT_NE(too_few.out.find("run_count: 5 -> 4"), std::string::npos) << "differences are listed";
}

TEST_F(Compare, HostileFilesEndWithOneLineNamingTheFile) {
    const std::string good = slurp(dir / "a.json");
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
        {"missing.json", "", false, "cannot be read"},
        {"empty.json", "", true, "empty file"},
        {"text.json", "not json at all", true, "not valid JSON"},
        {"truncated.json", good.substr(0, good.size() / 2), true, "not valid JSON"},
        {"schema.json", R"({"benchmarks": []})", true, "context: missing"},
        {"array.json", "[1, 2, 3]", true, "not a result record"},
        {"no-runs.json", edited([](auto& d) { d["context"].erase("run_count"); }), true, "context.run_count: missing"},
        {"typed.json", edited([](auto& d) { d["context"]["array_size"] = "big"; }), true,
         "context.array_size: not a whole number"},
        {"negative.json", edited([](auto& d) { d["strategies"][1]["durations_ns"][2] = -5; }), true,
         "strategies[1].durations_ns[2]: -5 is out of range"},
        {"absurd.json", edited([](auto& d) { d["strategies"][0]["durations_ns"][0] = 1e300; }), true,
         "not a whole number"},
        {"huge.json", edited([](auto& d) { d["strategies"][0]["durations_ns"][0] = 9'000'000'000'000'000'000u; }), true,
         "out of range"},
        {"short.json", edited([](auto& d) { d["strategies"][0]["durations_ns"].erase(0); }), true,
         "4 durations where context.run_count is 5"},
        {"renamed.json", edited([](auto& d) { d["strategies"][2]["name"] = "other sort"; }), true,
         "expected \"parallel sort\""},
        {"other-size.json", edited([](auto& d) { d["context"]["array_size"] = 30000; }), true,
         "context.array_size is 20000 in the base and 30000"},
        {"other-values.json", edited([](auto& d) { d["context"]["values"] = "wide"; }), true, "context.values"},
        {"extra.json", edited([](auto& d) {
             auto reference = d["strategies"][0];
             reference["name"] = "std::sort";
             reference["reference"] = true;
             d["strategies"].push_back(reference);
         }),
         true, "\"std::sort\" is measured in the new run only"},
    };
    for (const auto& c : cases) {
        const fs::path file = dir / c.name;
        if (c.create) {
            spill(file, c.text);
        }
        const process_result r = compare({path("a.json"), file.string()});
        EXPECT_EQ(r.exit_code, 2) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.rfind("quicksort_bench: error: ", 0), 0u) << c.name << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        const bool names_file = r.err.find(c.name) != std::string::npos;
        EXPECT_TRUE(names_file || r.err.find("measure") != std::string::npos) << c.name << ": " << r.err;
    }
    EXPECT_THROW(read_export_file(path("a.json"), 1000), export_error) << "a file over the size limit";
}

TEST_F(Compare, BadCompareOptionsExitTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"compare"},
             {"compare", path("a.json")},
             {"compare", path("a.json"), path("b.json"), "--alpha", "0"},
             {"compare", path("a.json"), path("b.json"), "--alpha", "x"},
             {"compare", path("a.json"), path("b.json"), "--threshold", "-1"},
             {"--size", "5", "compare", path("a.json"), path("b.json")},
             {"compare", path("a.json"), path("b.json"), "--export-json", "/nonexistent-dir/c.json"}}) {
        const process_result r = run_process(bench_binary(), args);
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(args) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}
