// The reference sorts and the memory floor: every reference sorts, every list of sorts follows the
// strategy table, the floor lies below every sort, and older records still read and compare.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "bench/memory_floor.hpp"
#include "common/format.hpp"
#include "bench/tsan_annotations.hpp"
#include "history/backend.hpp"
#include "process.hpp"
#include "records/comparison.hpp"
#include "records/derived.hpp"
#include "records/json_reader.hpp"
#include "records/record_fields.hpp"
#include "references/reference_sorts.hpp"

namespace {

#ifdef QSB_TSAN
// ThreadSanitizer cannot follow oneTBB's uninstrumented library, under the parallel std::sort and
// tbb::parallel_sort, nor IPS4o's pool, whose shutdown flag is a plain bool: the parallel
// references are left to the other builds.
constexpr bool tsan = true;
#else
constexpr bool tsan = false;
#endif

// A run with every reference sort, made once for the tests that read a real run.
class RealRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (tsan) {
            GTEST_SKIP() << "a run with the parallel references under ThreadSanitizer (see above)";
        }
    }
    static void SetUpTestSuite() {
        if (tsan) {
            return;
        }
        dir = std::filesystem::temp_directory_path() / ("qsb-references-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        run = run_process(bench_binary(), {"--size", "200000", "--runs", "3", "--reference", "--export-json", file()});
    }
    static void TearDownTestSuite() {
        if (!dir.empty()) {
            std::filesystem::remove_all(dir);
        }
    }
    static std::string file() { return (dir / "r.json").string(); }
    static nlohmann::json doc() { return nlohmann::json::parse(read_text(file())); }
    static inline std::filesystem::path dir;
    static inline process_result run;
};

} // namespace

TEST(References, EverySortSortsWhateverItIsGivenOnAnyThreadCount) {
    std::mt19937 generator(7);
    for (const strategy_info& row : strategy_table) {
        if (!row.reference || (tsan && row.parallel)) {
            continue;
        }
        for (const unsigned threads : {1u, 2u, 3u}) {
            const whole_array_sort sort = make_reference_sort(row.id, threads);
            for (const std::size_t size : {0u, 1u, 2u, 1000u, 200'000u}) {
                for (const std::int32_t spread : {32'768, INT32_MAX}) { // many repeats, and hardly any
                    value_array values(size);
                    for (auto& v : values) {
                        v = static_cast<std::int32_t>(generator() % static_cast<std::uint32_t>(spread));
                    }
                    value_array expected = values;
                    std::sort(expected.begin(), expected.end());
                    sort(values);
                    ASSERT_EQ(values, expected) << row.name << " on " << threads << " threads, " << size << " values";
                }
            }
        }
    }
    EXPECT_THROW(make_reference_sort(strategy::parallel, 2), std::invalid_argument);
}

TEST_F(RealRun, EveryListOfSortsFollowsTheStrategyTableOnce) {
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const nlohmann::json d = doc();
    std::vector<std::string> names;
    for (const auto& s : d["strategies"]) {
        names.push_back(s["name"]);
        EXPECT_EQ(s["reference"], info_named(names.back())->reference) << names.back();
    }
    ASSERT_EQ(names.size(), strategy_table.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(names[k], strategy_table[k].name);
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "no name twice";
    // The console: each reference once in its block, each sort once against the floor.
    for (const auto& row : strategy_table) {
        const std::string against = "  " + std::string(row.name) + ": ";
        const auto at = run.out.find(against);
        ASSERT_NE(at, std::string::npos) << row.name;
        EXPECT_EQ(run.out.find(against, at + 1), std::string::npos) << row.name << " twice";
        if (row.reference) {
            EXPECT_HAS(run.out, "\n" + std::string(row.name) + ": mean ") << row.name;
        }
    }
    const process_result plain = run_process(bench_binary(), {"--size", "2000", "--runs", "2"});
    for (const auto& row : strategy_table) {
        EXPECT_EQ(row.reference, plain.out.find(row.name) == std::string::npos)
            << row.name << ": references stay out of a run without --reference";
    }
    EXPECT_LACKS(plain.out, "Memory floor");
}

TEST_F(RealRun, TheFloorLiesBelowEverySortOnItsCpus) {
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const benchmark_results r = parse_export(read_text(file())).sweep.steps.at(0).results;
    ASSERT_TRUE(r.floor.measured());
    EXPECT_EQ(r.floor.passes_ns.size(), 5u);
    EXPECT_EQ(r.floor.bytes_per_pass, 2 * 4 * 200'000u);
    for (const auto& s : r.strategies) {
        const std::int64_t floor = uses_every_cpu(s.name) ? r.floor.ns() : r.floor.one_cpu_ns();
        EXPECT_GT(floor, 0);
        EXPECT_LT(floor, s.summary.min) << s.name;
    }
    const strategy_result* fastest = fastest_sort(r);
    ASSERT_NE(fastest, nullptr);
    EXPECT_FALSE(runs_side_by_side(fastest->name));
    EXPECT_HAS(run.out, "Fastest sort on this machine: " + fastest->name + ", ") << run.out;
}

TEST(References, TheFastestSortIsOneTimedAlone) {
    benchmark_results r;
    r.strategies = {make_strategy(strategy::sequential, {10}), make_strategy(strategy::parallel, {40}),
                    make_strategy(strategy::pdqsort, {30}), make_strategy(strategy::ips4o, {0})};
    ASSERT_NE(fastest_sort(r), nullptr);
    EXPECT_EQ(fastest_sort(r)->name, "boost::sort::pdqsort")
        << "the sequential sort ran beside others of its kind, and a median of 0 measured nothing";
    r.strategies.resize(1);
    EXPECT_EQ(fastest_sort(r), nullptr);
}

TEST(References, TheFloorCopiesEveryValueAndTimesEachPass) {
    const memory_floor f = measure_memory_floor(100'000, 3);
    EXPECT_EQ(f.passes_ns.size(), 3u);
    EXPECT_EQ(f.one_cpu_passes_ns.size(), 3u);
    EXPECT_EQ(f.bytes_per_pass, 800'000u);
    EXPECT_TRUE(std::all_of(f.passes_ns.begin(), f.passes_ns.end(), [](auto ns) { return ns > 0; }));
    ASSERT_TRUE(f.bytes_per_second());
    EXPECT_DOUBLE_EQ(*f.bytes_per_second(), 800'000 * 1e9 / static_cast<double>(f.ns()));
}

// A pass over every CPU can be no slower than over one, a floor that fits in the cache is said to
// be the cache's, a floor far below a millisecond keeps three digits, and a sort that uses one CPU
// has no efficiency to show in a sweep.
TEST(References, TheFloorIsAFloorAndSaidAsOne) {
    memory_floor f;
    f.bytes_per_pass = 800'000;
    f.passes_ns = {12'409, 12'500, 12'300};
    f.one_cpu_passes_ns = {7'577, 7'600, 7'500};
    EXPECT_EQ(f.ns(), 7'577) << "the every-CPU passes were slower: one CPU's is the floor";
    EXPECT_EQ(f.one_cpu_ns(), 7'577);
    f.passes_ns = {4'000, 4'100, 3'900};
    EXPECT_EQ(f.ns(), 4'000);
    EXPECT_TRUE(f.fits_in_cache({{"Unified", 3, 32u << 20, 2}, {"Data", 1, 32u << 10, 1}}));
    EXPECT_FALSE(f.fits_in_cache({{"Unified", 2, 512u << 10, 1}}));
    EXPECT_FALSE(f.fits_in_cache({})) << "no cache known: nothing said";

    const struct {
        std::int64_t ns;
        const char* text;
    } times[] = {{23'456, "0.0235"}, {500'000, "0.500"}, {7'577, "0.00758"}, {1'500'000, "1.50"}, {0, "0.00"}};
    for (const auto& t : times) {
        EXPECT_EQ(format_ms_precise(t.ns), t.text) << t.ns;
    }

    sweep_results sweep;
    for (const unsigned cpus : {1u, 2u}) {
        benchmark_results step = sample_results();
        step.context.cpus.assign(cpus, 0);
        step.strategies = {make_strategy(strategy::pdqsort, {100}), make_strategy(strategy::ips4o, {100 / cpus})};
        sweep.steps.push_back({step});
    }
    const auto table = scaling_of(sweep);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_FALSE(table[0].points[1].efficiency) << "pdqsort sorts on one CPU, alone";
    EXPECT_DOUBLE_EQ(*table[1].points[1].efficiency, 1.0);
}

TEST_F(RealRun, ARecordOfTheLastFormatReadsAndComparesOnWhatBothHold) {
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // The same run as the format before wrote it: two reference sorts and no floor.
    nlohmann::json older = doc();
    older["format_version"] = export_format_version - 1;
    older.erase("memory_floor");
    older["strategies"].erase(older["strategies"].begin() + 6, older["strategies"].end());
    const sweep_results old_run = parse_export(older.dump()).sweep;
    ASSERT_EQ(old_run.steps.at(0).results.strategies.size(), 6u);
    EXPECT_FALSE(old_run.steps[0].results.floor.measured());
    const comparison c = compare_runs(old_run, {{"new.json", parse_export(doc().dump()).sweep}}, 0.05, 0.02);
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_EQ(c.steps[0].strategies.size(), 6u);
    EXPECT_EQ(c.skipped.size(), strategy_table.size() - 6);
    EXPECT_NE(std::find(c.skipped.begin(), c.skipped.end(), "only in the new run: ips4o::parallel::sort"),
              c.skipped.end());
}

TEST(References, TheFloorIsKeptInTheHistoryAsTwoSeriesOfItsOwn) {
    const benchmark_results r = sample_results();
    const run_row row = row_of(as_sweep(r), nlohmann::json::object(), "");
    std::map<std::string, std::int64_t> medians;
    for (const auto& m : row.medians) {
        EXPECT_TRUE(medians.emplace(m.strategy, m.median_ns).second) << m.strategy << " twice";
    }
    EXPECT_EQ(medians.size(), r.strategies.size() + 2);
    EXPECT_EQ(medians.at(memory_floor_series), r.floor.ns());
    EXPECT_EQ(medians.at(memory_floor_one_cpu_series), r.floor.one_cpu_ns());
}
