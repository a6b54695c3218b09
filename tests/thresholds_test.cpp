// Every threshold just inside and just outside, and every random order by the orders it reaches:
// a rule moved past its value, or a shuffle that cannot reach some order, fails here.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "analysis/verdict.hpp"
#include "bench/memory_model.hpp"
#include "cli/sweep.hpp"
#include "machine/readiness.hpp"

namespace {

// A machine of two hardware threads with nothing to warn about.
environment_facts quiet_machine() {
    environment_facts f;
    f.governor = "performance";
    f.boost = false;
    f.packages = f.numa_nodes = 1;
    f.cores = f.hardware_threads = 2;
    f.load_avg = {0.1, 0.1, 0.1};
    f.mem_available_bytes = 4ull << 30;
    f.counters = {{"task-clock", false, true, ""}};
    return f;
}

bool line_ok(const environment_facts& f, const std::string& topic, std::uint64_t peak = 1u << 30) {
    for (const auto& line : judge_environment(f, peak)) {
        if (line.topic == topic) {
            return line.ok;
        }
    }
    ADD_FAILURE() << "no line on " << topic;
    return false;
}

} // namespace

TEST(Thresholds, TheReadinessCheckWarnsJustPastEachLimit) {
    const struct {
        const char* what;
        void (*edit)(environment_facts&);
        const char* topic;
        bool ok;
    } cases[] = {
        {"load 1.00 on 2 threads: half of them", [](environment_facts& f) { f.load_avg[0] = 1.0; }, "Load", true},
        {"load 1.01 on 2 threads", [](environment_facts& f) { f.load_avg[0] = 1.01; }, "Load", false},
        {"a process at 9.9% of a CPU", [](environment_facts& f) { f.busiest = {{"x", 9.9}}; }, "Load", true},
        {"a process at 10% of a CPU", [](environment_facts& f) { f.busiest = {{"x", 10.0}}; }, "Load", false},
        {"exactly the memory needed", [](environment_facts& f) { f.mem_available_bytes = 1u << 30; }, "Memory", true},
        {"a byte short", [](environment_facts& f) { f.mem_available_bytes = (1u << 30) - 1; }, "Memory", false},
        {"the performance governor, boost off", [](environment_facts&) {}, "CPU frequency", true},
        {"boost on", [](environment_facts& f) { f.boost = true; }, "CPU frequency", false},
        {"no software counter", [](environment_facts& f) { f.counters = {{"cycles", true, true, ""}}; }, "Counters",
         false},
    };
    for (const auto& c : cases) {
        environment_facts f = quiet_machine();
        c.edit(f);
        EXPECT_EQ(line_ok(f, c.topic), c.ok) << c.what;
    }
}

TEST(Thresholds, OtherProgramsShareOfTheCpusWarnsPastTenPercentOverTwoSeconds) {
    // 2 CPUs at 100 ticks a second; this process used none of the busy time.
    const struct {
        duration_ns wall;
        std::uint64_t busy_ticks;
        bool warns;
    } cases[] = {
        {10'000'000'000, 200, false}, // 10% of 2 CPUs over 10 s: at the limit
        {10'000'000'000, 202, true},  // 10.1%
        {1'999'000'000, 400, false},  // 100% over 1.999 s: too short for clock ticks to tell
        {2'000'000'000, 400, true},
    };
    for (const auto& c : cases) {
        environment_facts before = quiet_machine();
        environment_facts after = quiet_machine();
        before.busy_ticks = 1000;
        after.busy_ticks = 1000 + c.busy_ticks;
        after.read_at_ns = c.wall;
        EXPECT_EQ(environment_changes(before, after, 100).size(), c.warns ? 1u : 0u) << c.wall << " " << c.busy_ticks;
    }
}

TEST(Thresholds, AMemoryNeedIsRefusedOnlyPastWhatThereIs) {
    const memory_need need{1000, "the phase"};
    EXPECT_FALSE(memory_refusal(need, {1000, std::nullopt}));
    EXPECT_TRUE(memory_refusal(need, {999, std::nullopt}));
    EXPECT_FALSE(memory_refusal(need, {5000, 1000}));
    EXPECT_TRUE(memory_refusal(need, {5000, 999})) << "the address-space limit";
}

TEST(Thresholds, VerdictsChangeJustPastAlphaAndTheThreshold) {
    const struct {
        double p;
        double low;
        double high;
        verdict expected;
    } cases[] = {
        {0.049, 0.021, 0.05, verdict::slower},
        {0.050, 0.021, 0.05, verdict::inconclusive}, // p at alpha is not below it
        {0.049, 0.020, 0.05, verdict::inconclusive}, // the interval reaches the threshold
        {0.049, -0.05, -0.021, verdict::faster},
        {0.049, -0.05, -0.020, verdict::inconclusive},
        {0.5, -0.020, 0.020, verdict::equivalent},   // the whole interval within, ends included
        {0.5, -0.0201, 0.020, verdict::inconclusive},
        {0.5, -0.020, 0.0201, verdict::inconclusive},
    };
    for (const auto& c : cases) {
        const shift_verdict v = judge_shift(c.p, (c.low + c.high) / 2, {c.low, c.high}, 0.05, 0.02, 10);
        EXPECT_EQ(v.result, c.expected) << c.p << " [" << c.low << ", " << c.high << "]";
    }
    // Inconclusive: the runs that would likely decide it, 10 (half-width / margin)^2 worked by hand.
    // Binary fractions, so that the arithmetic is exact: half-width 0.25, margin 0.125.
    const shift_verdict open = judge_shift(0.2, 0.25, {0.0, 0.5}, 0.05, 0.125, 10);
    ASSERT_EQ(open.result, verdict::inconclusive);
    ASSERT_TRUE(open.runs_to_decide);
    EXPECT_EQ(*open.runs_to_decide, 40u) << "10 (0.25 / 0.125)^2";
}

TEST(Thresholds, RoundOrdersReachEveryOrderEvenlyAndFollowTheSeed) {
    // 3 steps have 6 orders; 1,200 rounds of a fair shuffle give each about 200 times.
    const auto orders = round_orders(3, 1200, 42);
    std::map<std::vector<std::size_t>, int> seen;
    for (const auto& order : orders) {
        ++seen[order];
    }
    ASSERT_EQ(seen.size(), 6u) << "every order is reachable";
    for (const auto& [order, count] : seen) {
        EXPECT_GT(count, 140) << "far from a sixth";
        EXPECT_LT(count, 260) << "far from a sixth";
    }
    EXPECT_EQ(round_orders(3, 5, 42), round_orders(3, 5, 42));
    EXPECT_NE(round_orders(5, 5, 42), round_orders(5, 5, 43)) << "another seed, other orders";
    EXPECT_EQ(round_orders(4, 1, 9), (std::vector<std::vector<std::size_t>>{{0, 1, 2, 3}})) << "one round ascends";
}
