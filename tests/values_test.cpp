// Tests at the value: intervals hold at the level they claim, bounds decide just past them, and
// every fact that defines a machine or a change moves it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analysis/change_points.hpp"
#include "analysis/processes.hpp"
#include "history/store.hpp"
#include "records/comparison.hpp"

namespace {

// n durations around `level`, each off by a normal relative noise of `cv`.
duration_list noisy(std::mt19937_64& generator, double level, double cv, std::size_t n) {
    std::normal_distribution<double> noise(0, cv);
    duration_list d;
    for (std::size_t k = 0; k < n; ++k) {
        d.push_back(std::llround(level * (1 + noise(generator))));
    }
    return d;
}

// How often `interval` (drawn `trials` times) holds `truth`.
template <typename Interval>
double coverage(int trials, double truth, Interval interval) {
    int held = 0;
    for (int t = 0; t < trials; ++t) {
        const auto i = interval(t);
        held += i && i->first <= truth && truth <= i->second ? 1 : 0;
    }
    return static_cast<double>(held) / trials;
}

} // namespace

// The 95% bootstrap intervals of a speedup hold the true ratio about 95% of the time: not 90%, not
// 99%. With 300 trials the count's own spread is about 1.3 points.
TEST(Values, BootstrapIntervalsHoldAtTheLevelTheyClaim) {
    std::mt19937_64 generator(2026);
    const double sorts = coverage(300, 2.0, [&](int t) {
        const duration_list one = noisy(generator, 2e8, 0.05, 30);
        const duration_list two = noisy(generator, 1e8, 0.05, 30);
        return bootstrap_ratio_of_medians(one, two, 1000 + static_cast<std::uint64_t>(t), 2000);
    });
    EXPECT_GT(sorts, 0.91) << "sorts: " << sorts;
    EXPECT_LT(sorts, 0.985) << "sorts: " << sorts;

    // Two levels: processes that move by 4%, sorts within a process by 3%.
    const auto processes = [&](double level) {
        std::normal_distribution<double> shift(0, 0.04);
        std::vector<duration_list> p;
        for (int k = 0; k < 12; ++k) {
            p.push_back(noisy(generator, level * (1 + shift(generator)), 0.03, 5));
        }
        return p;
    };
    const double two_level = coverage(300, 2.0, [&](int t) {
        return two_level_bootstrap_ratio(processes(2e8), processes(1e8), 5000 + static_cast<std::uint64_t>(t), 2000);
    });
    EXPECT_GT(two_level, 0.91) << "two levels: " << two_level;
    EXPECT_LT(two_level, 0.985) << "two levels: " << two_level;
}

// A machine is its hardware, every fact of it: change any one and it is another machine. The
// software and the build are facts of its runs: upgrading them keeps the machine.
TEST(Values, TheMachineIdentityChangesWithEveryFactOfItsHardwareAlone) {
    run_context c;
    c.host_name = "host";
    c.cpu_model = "model";
    c.logical_cpus = 8;
    c.memory_bytes = 1 << 30;
    c.kernel = "6.1.0";
    c.compiler = "g++ 12";
    c.tbb_version = "2021.8";
    const std::string id = identify_machine(c).id;
    const std::function<void(run_context&)> changes[] = {
        [](run_context& x) { x.host_name = "other"; },
        [](run_context& x) { x.cpu_model = "other"; },
        [](run_context& x) { x.logical_cpus = 16; },
        [](run_context& x) { x.memory_bytes = 2u << 30; },
    };
    std::set<std::string> ids = {id};
    for (const auto& change : changes) {
        run_context other = c;
        change(other);
        ids.insert(identify_machine(other).id);
    }
    EXPECT_EQ(ids.size(), 1 + std::size(changes));
    run_context same = c;
    same.date_time = "later";
    same.array_size = 7;
    same.kernel = "6.2.0";
    same.compiler = "g++ 13";
    same.tbb_version = "2022.0";
    same.source_revision = "v2";
    EXPECT_EQ(identify_machine(same).id, id) << "what a run ran with and measures is no fact of the machine";
}

// A step whose corrected p-value lies between 0.001 and 0.01 is a change at 0.01 and none at the
// default 0.001; a step near the edge of a window of a long series is found where it is.
TEST(Values, ChangePointsAtTheirThresholdAndNearAWindowsEdge) {
    std::mt19937_64 generator(7);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> base;
    for (int k = 0; k < 20; ++k) {
        base.push_back(100 + noise(generator));
    }
    change_point_settings loose;
    loose.max_p_value = 1.0;
    bool tried = false;
    for (double step = 0.5; step < 4 && !tried; step += 0.01) {
        std::vector<double> series = base;
        for (std::size_t k = 10; k < series.size(); ++k) {
            series[k] += step;
        }
        const auto found = find_change_points(series, loose);
        if (found.size() != 1 || found[0].index < 9 || found[0].index > 11 || found[0].p_value <= 0.001 ||
            found[0].p_value >= 0.01) {
            continue;
        }
        tried = true;
        change_point_settings at;
        at.max_p_value = 0.01;
        EXPECT_EQ(find_change_points(series, at).size(), 1u) << "p " << found[0].p_value << " is below 0.01";
        EXPECT_TRUE(find_change_points(series, change_point_settings{}).empty())
            << "p " << found[0].p_value << " is not below 0.001";
    }
    EXPECT_TRUE(tried) << "no step gave a p-value between 0.001 and 0.01";

    // 150 points in windows of 50 that overlap by half: windows end at 49, 74, 99, ...
    for (const std::size_t edge : {49u, 50u, 74u, 75u, 100u}) {
        std::vector<double> series;
        for (std::size_t k = 0; k < 150; ++k) {
            series.push_back((k < edge ? 100 : 110) + noise(generator));
        }
        const auto found = find_change_points(series, change_point_settings{});
        ASSERT_EQ(found.size(), 1u) << "a step at " << edge;
        EXPECT_EQ(found[0].index, edge);
    }
}
