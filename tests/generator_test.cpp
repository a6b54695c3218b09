// Input generation and the checks of sorted results.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "bench/generator.hpp"
#include "bench/timed_sort.hpp"

TEST(Generator, ReproducesTheClassicRandPerThreadAndReducesModuloThreeTimesTheSize) {
    // From 10,923 values on, the modulus is above every 15-bit draw: the values are the draws.
    constexpr std::uint64_t unreduced = 10'923;
    const auto first_draw = [] {
        value_array v;
        generate_values(v, unreduced);
        return v[0];
    };
    seed_generator(1);
    value_array draws;
    generate_values(draws, unreduced);
    for (std::size_t k = 0; const std::int32_t expected : {41, 18467, 6334, 26500, 19169}) {
        EXPECT_EQ(draws[k++], expected);
    }
    seed_generator(1);
    value_array values{-1}; // generation appends
    generate_values(values, 5);
    EXPECT_EQ(values, (value_array{-1, 41 % 15, 18467 % 15, 6334 % 15, 26500 % 15, 19169 % 15}));

    // A thread that never seeded starts from 1; seeding there never moves this thread's state.
    std::int32_t fresh_first = -1;
    std::thread([&] {
        fresh_first = first_draw();
        seed_generator(999);
    }).join();
    EXPECT_EQ(fresh_first, 41);
    EXPECT_EQ(first_draw(), 15724) << "the sixth draw of seed 1: the array continued the sequence";

    value_array large;
    generate_values(large, 40'000);
    EXPECT_TRUE(std::all_of(large.begin(), large.end(), [](std::int32_t v) { return v >= 0 && v <= generator_max; }));
}

TEST(Generator, WideValuesSpreadOverThreeTimesTheSizeFromA32BitGenerator) {
    value_array values[2];
    for (auto& v : values) { // seeding restarts the wide sequence too
        seed_generator(1);
        generate_values(v, 100'000, value_kind::wide);
    }
    EXPECT_EQ(values[0], values[1]);
    EXPECT_EQ(values[0][0], static_cast<std::int32_t>(1'791'095'845u % 300'000u)) << "std::mt19937 seeded 1";
    const auto [low, high] = std::minmax_element(values[0].begin(), values[0].end());
    EXPECT_TRUE(*low >= 0 && *high < 300'000 && *high > 290'000) << "far beyond 15 bits, within 3 x size";
}

TEST(Verify, AcceptsOnlyTheSortedPermutationAndNamesStrategyAndRun) {
    const value_array input{4, -2, 9, 4, 0};
    const auto verdict = [&](const value_array& result) -> std::string {
        try {
            value_array values = input;
            time_checked_sort(values, [&](value_array& v) { v = result; }, "thread sort", [] { return 7; });
        } catch (const sort_check_error& e) {
            return e.what();
        }
        return "accepted";
    };
    const std::string unsorted = "thread sort, run 7: the result is not in ascending order";
    const std::string other_values = "thread sort, run 7: the result does not hold the values of its input";
    EXPECT_EQ(verdict({-2, 0, 4, 4, 9}), "accepted");
    EXPECT_EQ(verdict({-2, 0, 4, 9, 4}), unsorted);
    EXPECT_EQ(verdict({-2, 0, 5, 5, 7}), other_values) << "same length and sum, other values";
    EXPECT_EQ(verdict({-2, 0, 4, 9}), other_values);
    EXPECT_EQ(verdict({-2, 0, 4, 4, 9, 9}), other_values);
}
