// The process as the unit of repetition: estimates over processes, variance components, the
// design they suggest, the two-level bootstrap, and how records, exports and compare carry them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <sstream>

#include "process.hpp"
#include "analysis/processes.hpp"
#include "cli/processes.hpp"
#include "records/comparison.hpp"
#include "records/json_reader.hpp"
#include "records/pooling.hpp"
#include "records/record_fields.hpp"
#include "report/advice_report.hpp"
#include "report/comparison_report.hpp"
#include "report/console_report.hpp"
#include "report/exports.hpp"
#include "thread_limit.hpp"

#include <nlohmann/json.hpp>

namespace {

// A record of one process: the four strategies with the given durations each, the parallel sort's
// phases a second of wall time.
benchmark_results one_process(const std::vector<duration_list>& per_strategy, std::uint64_t runs) {
    run_context context;
    context.array_size = 1000;
    context.chunk_size = 100;
    context.run_count = runs;
    const char* names[] = {"sequential sort", "thread sort", "parallel sort", "parallel_for parallel sort"};
    std::vector<strategy_result> s;
    for (std::size_t k = 0; k < 4; ++k) {
        s.push_back(make_strategy(names[k], per_strategy[k]));
    }
    benchmark_results r = make_results(context, s);
    for (const auto* name : names) {
        r.resources.push_back({name, 400'000'000, 0, 0, 0, 1, 0, 0, 0, 0, {}});
    }
    return r;
}

// K processes whose every strategy's sorts are `sorts` scaled by the process's factor.
std::vector<benchmark_results> records_of(const std::vector<double>& factors, const duration_list& sorts) {
    std::vector<benchmark_results> records;
    for (const double f : factors) {
        duration_list scaled;
        for (const auto d : sorts) {
            scaled.push_back(static_cast<std::int64_t>(std::llround(static_cast<double>(d) * f)));
        }
        records.push_back(one_process({scaled, scaled, scaled, scaled}, sorts.size()));
    }
    return records;
}

benchmark_results processes_of(const std::vector<double>& factors, const duration_list& sorts) {
    return pool_rounds(records_of(factors, sorts));
}

sweep_results as_file(const benchmark_results& r) {
    sweep_results s;
    s.planned_counts = {0};
    s.steps = {{r}};
    return s;
}

} // namespace

TEST(Processes, EstimateIsTheMedianOfMediansWithAnOrderStatisticIntervalFromSix) {
    // Process medians 110, 100, 130, 90, 120, 105 (each of three sorts).
    const std::vector<duration_list> six = {{100, 110, 120}, {99, 100, 101}, {130, 130, 131},
                                            {80, 90, 95},    {119, 120, 200}, {105, 105, 90}};
    const process_estimate e = estimate_over_processes(six);
    EXPECT_EQ(e.processes, 6u);
    EXPECT_EQ(e.median, 107) << "the truncated average of 105 and 110";
    ASSERT_TRUE(e.interval);
    EXPECT_EQ(e.interval->low, 90);
    EXPECT_EQ(e.interval->high, 130);
    EXPECT_DOUBLE_EQ(e.interval->coverage, 0.96875);
    EXPECT_FALSE(estimate_over_processes({six.begin(), six.begin() + 5}).interval) << "five processes: none";
    std::vector<duration_list> ten;
    for (std::int64_t m : {50, 10, 90, 30, 70, 20, 80, 40, 60, 100}) {
        ten.push_back({m - 1, m, m + 1000});
    }
    const process_estimate e10 = estimate_over_processes(ten);
    ASSERT_TRUE(e10.interval);
    EXPECT_EQ(e10.interval->low, 20) << "the second smallest process median";
    EXPECT_EQ(e10.interval->high, 90);
    EXPECT_DOUBLE_EQ(e10.interval->coverage, 0.978515625);
}

TEST(Processes, VarianceComponentsMatchKaliberaAndJonesByHand) {
    // Values computed apart from this code (in Python) from the estimators' definitions.
    const struct {
        std::vector<duration_list> table;
        double mean, within_cv, between_cv, between_variance;
    } cases[] = {
        {{{10, 12, 14}, {20, 22, 24}, {15, 17, 19}}, 17.0, 0.11764705882352941, 0.28616704939855736, 23.666666666666668},
        {{{10, 20}, {11, 19}, {12, 20}}, 15.333333333333334, 0.40202700019362886, 0, -18.666666666666668},
        {{{100, 104}, {120, 121, 125, 130}, {90, 95, 97}}, 106.66666666666667, 0.0375, 0.14388580541526674,
         235.55555555555557},
    };
    for (const auto& c : cases) {
        const auto v = components_of(c.table);
        ASSERT_TRUE(v);
        EXPECT_NEAR(v->mean, c.mean, 1e-9);
        EXPECT_NEAR(v->within_cv, c.within_cv, 1e-12);
        EXPECT_NEAR(v->between_cv, c.between_cv, 1e-12);
        EXPECT_NEAR(v->between_variance, c.between_variance, 1e-9);
        EXPECT_EQ(v->between_negative, c.between_variance < 0);
    }
    EXPECT_FALSE(components_of({{1, 2, 3}})) << "one process";
    EXPECT_FALSE(components_of({{1, 2}, {3}})) << "a process of one sort has no within-variation";
}

TEST(Processes, DesignFormula) {
    variance_components v;
    v.within_cv = 0.05;
    v.between_cv = 0.03;
    // ceil(sqrt((2 s / 0.1 s) * 0.05^2 / 0.03^2)) = ceil(7.45)
    EXPECT_EQ(optimal_sorts_per_process(v, 2e9, 1e8), 8u);
    EXPECT_EQ(optimal_sorts_per_process(v, 1e6, 1e9), 1u) << "processes almost free: one sort each";
    v.between_cv = 0;
    EXPECT_FALSE(optimal_sorts_per_process(v, 2e9, 1e8)) << "no between-process variation: no finite optimum";
}

TEST(Processes, PooledRecordsKeepEachProcessAndJudgeOverThem) {
    const std::vector<benchmark_results> records =
        records_of({1.0, 1.1, 0.9, 1.05, 0.95, 1.2}, {1000000, 1010000, 990000});
    const benchmark_results r = pool_rounds(records);
    EXPECT_EQ(r.context.processes, 6u);
    EXPECT_EQ(r.context.run_count, 18u);
    const strategy_result& s = r.strategies[0];
    ASSERT_EQ(s.processes.size(), 6u);
    EXPECT_EQ(s.processes[1], (duration_list{1100000, 1111000, 1089000}));
    ASSERT_TRUE(s.across_processes && s.across_processes->interval);
    EXPECT_EQ(s.across_processes->median, 1025000) << "medians 0.9 to 1.2 ms: (1.0 + 1.05) / 2";
    EXPECT_EQ(s.across_processes->interval->low, 900000);
    EXPECT_EQ(s.across_processes->interval->high, 1200000);
    EXPECT_EQ(headline(s).median, 1025000);
    EXPECT_EQ(sorts_text(s), "18 (6 processes)");
    ASSERT_TRUE(s.components);
    EXPECT_FALSE(s.components->between_negative);

    // The precision goal counts processes: reached once every interval over them is narrow enough
    // (here ±17.1%), judged as the processes come.
    process_pool pool;
    precision_goal goal;
    goal.target = 0.18;
    goal.max_processes = 30;
    for (std::size_t p = 0; p < records.size(); ++p) {
        EXPECT_FALSE(processes_enough(pool, goal, 0)) << p << " processes: no interval yet";
        pool.add(records[p]);
    }
    EXPECT_TRUE(processes_enough(pool, goal, 0));
    goal.target = 0.17;
    EXPECT_FALSE(processes_enough(pool, goal, 0)) << "just inside the interval's precision";
    goal.max_time_ns = 10;
    EXPECT_FALSE(processes_enough(pool, goal, 9)) << "time left";
    EXPECT_TRUE(processes_enough(pool, goal, 10)) << "out of time";
    goal.max_time_ns.reset();
    goal.max_processes = 6;
    EXPECT_TRUE(processes_enough(pool, goal, 0)) << "at --max-processes";
    goal.max_processes = 7;
    EXPECT_FALSE(processes_enough(pool, goal, 0)) << "one process short of --max-processes";

    // Every strategy must be precise, not any one: beside a strategy whose processes agree to the
    // nanosecond, the spread one still holds the run back.
    process_pool two;
    goal.target = 0.18;
    goal.max_processes = 30;
    for (benchmark_results record : records) {
        strategy_result steady = record.strategies.at(0);
        steady.name = "steady sort";
        steady.durations = {500000, 500000, 500000};
        record.strategies.insert(record.strategies.begin(), steady);
        two.add(record);
    }
    EXPECT_TRUE(processes_enough(two, goal, 0)) << "both within ±18%";
    goal.target = 0.17;
    EXPECT_FALSE(processes_enough(two, goal, 0)) << "the steady strategy is precise, the other is not";
    benchmark_results incremental = pool.pooled();
    EXPECT_EQ(incremental.process_costs_ns, std::vector<duration_ns>(6, 0));
    incremental.process_costs_ns.clear(); // a sweep's rounds are not timed from outside
    EXPECT_TRUE(run_json(incremental) == run_json(r)) << "pooled as they came, the same record as pooled at once";

    const benchmark_results few = processes_of({1.0, 1.1}, {1000, 1010, 990});
    EXPECT_HAS(few.strategies[0].warnings.at(0), "too few processes (2)");
}

// Every format of a run of processes is held byte for byte (Golden); here, what a reader refuses.
TEST(Processes, ExportsCarryEveryProcess) {
    benchmark_results r = processes_of({1.0, 1.1, 0.9, 1.05, 0.95, 1.2}, {1000000, 1010000, 990000});
    r.process_costs_ns = {5'000'000, 6'000'000, 5'500'000, 5'000'000, 7'000'000, 5'200'000};
    std::ostringstream json;
    write_json(r, json);
    const auto doc = nlohmann::json::parse(json.str());

    // Processes that do not add up to the strategy's durations are a damaged file.
    auto damaged = doc;
    damaged["strategies"][1]["processes"][2]["durations_ns"][0] = 1;
    EXPECT_THROW(parse_result_record(damaged.dump()), export_error);
    auto missing = doc;
    missing["strategies"][1]["processes"].erase(0);
    EXPECT_THROW(parse_result_record(missing.dump()), export_error);
}

TEST(Processes, CompareJudgesOnProcessMediansAndRefusesTooFew) {
    const duration_list sorts = {1000, 1003, 997, 1001, 999, 1002};
    const std::vector<double> steady = {1.0, 1.02, 0.98, 1.01, 0.99, 1.0};
    const auto scaled = [](std::vector<double> factors, double by) {
        for (auto& f : factors) {
            f *= by;
        }
        return factors;
    };
    const struct {
        const char* what;
        std::vector<double> base, next;
        std::optional<double> drift;
        verdict expected;
        judged_by rule;
    } cases[] = {
        {"six processes a side, +20%", steady, scaled(steady, 1.2), {}, verdict::slower, judged_by::processes},
        {"six processes a side, -20%", steady, scaled(steady, 0.8), {}, verdict::faster, judged_by::processes},
        {"six processes a side, the same", steady, steady, {}, verdict::equivalent, judged_by::processes},
        {"one process a side, +20%", {1.0}, {1.2}, {}, verdict::too_few_processes, judged_by::sorts},
        {"four against six", {1.0, 1.0, 1.0, 1.0}, scaled(steady, 1.2), {}, verdict::too_few_processes,
         judged_by::sorts},
        {"one process, +20%, drift 10%", {1.0}, {1.2}, 0.10, verdict::slower, judged_by::drift},
        {"one process, +20%, drift 30%", {1.0}, {1.2}, 0.30, verdict::too_few_processes, judged_by::sorts},
        {"one process, +20%, drift 20%: the interval reaches inside", {1.0}, {1.2}, 0.20, verdict::too_few_processes,
         judged_by::sorts},
        {"one process, the same, drift 10%", {1.0}, {1.0}, 0.10, verdict::equivalent, judged_by::drift},
    };
    for (const auto& c : cases) {
        const comparison result = compare_runs(as_file(processes_of(c.base, sorts)),
                                               {{"new.json", as_file(processes_of(c.next, sorts))}}, 0.05, 0.02,
                                               c.drift);
        const strategy_comparison& row = result.steps.at(0).strategies.at(0);
        EXPECT_EQ(row.result, c.expected) << c.what << ": " << verdict_cell(row);
        EXPECT_EQ(row.rule, c.rule) << c.what;
        if (row.result == verdict::too_few_processes) {
            EXPECT_GE(row.processes_to_decide.value_or(0), min_processes_to_decide) << c.what;
            EXPECT_TRUE(row.shift_interval) << c.what << ": the sorts' shift is still shown";
            EXPECT_NE(result.undecided().size(), 0u) << "the gate does not pass";
        }
    }
    const comparison by_processes = compare_runs(as_file(processes_of(steady, sorts)),
                                                 {{"new.json", as_file(processes_of(scaled(steady, 1.2), sorts))}},
                                                 0.05, 0.02);
    const strategy_comparison& row = by_processes.steps[0].strategies[0];
    EXPECT_EQ(row.base.size(), 6u) << "the test's samples are the process medians";
    EXPECT_EQ(rule_text(row, {}), "process medians, 6 vs 6");
    std::ostringstream table;
    print_comparison(by_processes, table);
    EXPECT_HAS(table.str(), "slower (weak: fewer than 9 processes) [process medians, 6 vs 6]") << table.str();
}

TEST(Processes, ASweepStepOfRoundsIsEstimatedOverItsRounds) {
    const duration_list sorts = {1000000, 1010000, 990000};
    sweep_results sweep;
    sweep.planned_counts = {1, 2};
    sweep.rounds = 6;
    sweep.steps = {{processes_of({1.0, 1.1, 0.9, 1.05, 0.95, 1.2}, sorts)},
                   {processes_of({0.5, 0.55, 0.45, 0.525, 0.475, 0.6}, sorts)}};
    sweep.steps[0].results.context.cpus = {0};
    sweep.steps[1].results.context.cpus = {0, 1};
    const std::vector<strategy_scaling> table = scaling_of(sweep);
    // The chunked sort runs one sort at a time, and so scales by its median.
    ASSERT_FALSE(table.at(2).by_throughput);
    const scaling_point& one = table.at(2).points.at(0);
    const scaling_point& two = table.at(2).points.at(1);
    EXPECT_EQ(one.median, 1025000) << "the median of the rounds' medians";
    EXPECT_NE(one.median, sweep.steps[0].results.strategies[2].summary.median) << "not of the pooled sorts";
    ASSERT_TRUE(one.precision);
    EXPECT_NEAR(*one.precision, 0.175 / 1.025, 1e-9) << "from the rounds' interval";
    ASSERT_TRUE(two.speedup && two.speedup_interval);
    EXPECT_NEAR(*two.speedup, 2.0, 1e-9);
    EXPECT_LE(two.speedup_interval->first, 2.0);
    EXPECT_GE(two.speedup_interval->second, 2.0);
    EXPECT_GT(two.speedup_interval->second - two.speedup_interval->first, 0.2)
        << "resampling rounds shows how far they spread";
}

// How many processes a target needs comes from how the process medians spread; how much of the
// spread within a process is the input, from the arrays that recur; advice names no count past
// what the options allow, and speaks of the user's target.
TEST(Processes, TheDesignRestsOnTheProcessMediansAndTheArraysTheySorted) {
    EXPECT_NEAR(*median_cv({{100, 99, 101}, {110, 110}, {90}}), 0.1, 1e-12) << "medians 100, 110, 90";
    EXPECT_FALSE(median_cv({{100}}));
    EXPECT_EQ(processes_for_cv(0.048, 0.02), 35u) << "(1.96 / 0.02)^2 pi/2 0.048^2 = 34.8";
    EXPECT_EQ(processes_for_cv(0.077, 0.02), 90u) << "89.4";
    EXPECT_EQ(processes_for_cv(0.001, 0.02), 6u) << "never below an interval's six";

    // Residuals (-5, 5) and (-3, 3) by arrays A and B: MS_array 64, MS_error 2, n0 2, so the
    // array's component is 31 of 33.
    const std::vector<std::vector<std::uint64_t>> ab = {{1, 2}, {1, 2}};
    EXPECT_NEAR(*input_share({{10, 20}, {12, 18}}, ab), 31.0 / 33.0, 1e-12);
    EXPECT_DOUBLE_EQ(*input_share({{10, 12}, {12, 10}}, ab), 0.0) << "noise alone";
    EXPECT_FALSE(input_share({{10, 20}, {12, 18}}, {{1, 2}, {3, 4}})) << "no array recurs";
    EXPECT_FALSE(input_share({{10, 20}, {12, 18}}, {{1, 2}, {1}})) << "not one array per sort";

    // Six processes whose medians spread widely, one sort of each strategy sorting the same array
    // in every process: the target of the run's goal, out of reach of its --max-processes.
    std::vector<benchmark_results> records = records_of({1.0, 1.4, 0.7, 1.2, 0.8, 1.3}, {1000000, 1200000, 900000});
    for (auto& r : records) {
        r.environment_warnings = {"the load rose"};
        for (auto& s : r.strategies) {
            s.array_ids = {7, 8, 9};
        }
    }
    process_pool pool;
    for (std::size_t p = 0; p < records.size(); ++p) {
        pool.add(records[p], 10'000'000);
    }
    precision_goal goal;
    goal.target = 0.005;
    goal.max_processes = 30;
    const benchmark_results r = pool.pooled(goal);
    std::string advice;
    for (const auto& line : design_advice(r)) {
        advice += line + "\n";
    }
    EXPECT_HAS(advice, "sequential sort: its process medians spread ") << advice;
    EXPECT_HAS(advice, "\u00b10.5% is not reachable with --max-processes 30") << advice;
    EXPECT_LACKS(advice, "\u00b12%") << "the user's target, not the advised one:\n" << advice;
    EXPECT_HAS(advice, "1 sort per process") << advice;
    EXPECT_HAS(advice, "of it which array was sorted") << advice;
    EXPECT_EQ(r.environment_warnings, std::vector<std::string>{"processes 1, 2, 3, 4, 5 and 6: the load rose"});

    // Out of time with only the processes asked for: --max-time never cuts those.
    goal.max_time_ns = 1;
    goal.min_processes = 6;
    std::ostringstream block;
    print_precision(pool.pooled(goal), block);
    EXPECT_HAS(block.str(), "target not reached (--processes 6 is a minimum that --max-time does not cut)") << block.str();
    goal.min_processes = 4;
    block.str("");
    print_precision(pool.pooled(goal), block);
    EXPECT_HAS(block.str(), "target not reached (at --max-time)") << block.str();
}

// Interrupted after some processes: the exports hold those, marked incomplete with the processes
// planned; a scratch folder a killed run left behind is removed by the next one.
TEST(Processes, AnInterruptedRunKeepsItsFinishedProcessesInItsExports) {
    const scratch_dir dir;
    std::filesystem::create_directory(dir.file("quicksort_bench-processes-4194301-AbCdEf"));
    write_text(dir.file("quicksort_bench-processes-4194301-AbCdEf/process-1.json"), "");
    const process_result r = run_process(
        "/bin/bash", {"-c", "TMPDIR='" + dir.path.string() + "' '" + bench_binary() +
                                "' --processes 500 --size 300000 --runs 3 --export-json '" + dir.file("p.json") +
                                "' & pid=$!; "
                                // Interrupted once the second process has started, however slow the machine.
                                "for k in $(seq 600); do ls '" + dir.path.string() + "'/quicksort_bench-processes-$pid-*/process-2.json "
                                ">/dev/null 2>&1 && break; sleep 0.1; done; "
                                "kill -INT $pid; wait $pid; echo \"status $?\""});
    EXPECT_HAS(r.out, "status 130") << r.out << r.err;
    EXPECT_HAS(r.err, "quicksort_bench: error: process ") << r.err;
    const nlohmann::json doc = nlohmann::json::parse(read_text(dir.file("p.json")));
    EXPECT_EQ(doc["complete"], false);
    EXPECT_EQ(doc["processes_planned"], 500);
    EXPECT_GE(doc["context"]["processes"].get<int>(), 1);
    EXPECT_TRUE(doc["failure"].is_string());
    EXPECT_FALSE(std::filesystem::exists(dir.file("quicksort_bench-processes-4194301-AbCdEf"))) << "abandoned";
    std::size_t left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        left += entry.path().filename().string().rfind("quicksort_bench-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(left, 0u) << "the run's own folder is removed too";
    const process_result imported = run_process(bench_binary(), {"history", "import", "--history", dir.file("h.sqlite"),
                                                                 dir.file("p.json")});
    EXPECT_HAS(imported.out, "an incomplete run of processes") << imported.out << imported.err;
}
