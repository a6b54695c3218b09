#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "bench/generator.hpp"
#include "bench/verify.hpp"

TEST(Generator, ReproducesTheClassicRandSequence) {
    seed_generator(1);
    EXPECT_EQ(draw_random(), 41);
    EXPECT_EQ(draw_random(), 18467);
    EXPECT_EQ(draw_random(), 6334);
    EXPECT_EQ(draw_random(), 26500);
    EXPECT_EQ(draw_random(), 19169);

    seed_generator(1);
    EXPECT_EQ(draw_random(), 41) << "seeding again restarts the sequence";
}

TEST(Generator, EveryThreadHasItsOwnStateStartingAtOne) {
    seed_generator(12345);
    const std::int32_t main_first = draw_random();

    std::int32_t fresh_first = -1;
    std::int32_t reseeded_first = -1;
    std::thread([&] {
        fresh_first = draw_random();
        seed_generator(12345);
        reseeded_first = draw_random();
    }).join();

    EXPECT_EQ(fresh_first, 41) << "a thread that never seeded starts from seed 1";
    EXPECT_EQ(reseeded_first, main_first);

    seed_generator(1);
    std::thread([] { seed_generator(999); }).join();
    EXPECT_EQ(draw_random(), 41) << "another thread's seeding must not move this thread's state";
}

TEST(Generator, ReducesModuloThreeTimesTheSize) {
    seed_generator(1);
    value_array values;
    generate_values(values, 5);
    EXPECT_EQ(values, (value_array{41 % 15, 18467 % 15, 6334 % 15, 26500 % 15, 19169 % 15}));
}

TEST(Generator, AppendsAndContinuesTheSequence) {
    seed_generator(1);
    value_array one_go;
    generate_values(one_go, 40'000);

    seed_generator(1);
    value_array two_goes{-1};
    generate_values(two_goes, 40'000);
    two_goes.erase(two_goes.begin());
    value_array more;
    generate_values(more, 40'000);

    EXPECT_EQ(two_goes, one_go);
    EXPECT_NE(more, one_go) << "the second array continues the sequence instead of repeating it";
    EXPECT_TRUE(std::all_of(one_go.begin(), one_go.end(), [](std::int32_t v) { return v >= 0 && v <= generator_max; }));
}

TEST(Verify, AcceptsTheSortedPermutation) {
    value_array values{4, -2, 9, 4, 0};
    const array_fingerprint before = fingerprint_of(values);
    std::sort(values.begin(), values.end());
    EXPECT_NO_THROW(verify_sorted(values, before, "parallel sort", 1));
}

TEST(Verify, RejectsWrongResultsNamingStrategyAndRun) {
    const value_array input{4, -2, 9, 4, 0};
    const array_fingerprint before = fingerprint_of(input);

    const auto message_for = [&](const value_array& result) -> std::string {
        try {
            verify_sorted(result, before, "thread sort", 7);
        } catch (const sort_check_error& e) {
            return e.what();
        }
        return "accepted";
    };

    EXPECT_EQ(message_for({-2, 0, 4, 9, 4}), "thread sort, run 7: the result is not in ascending order");
    // Sorted and of the right length and sum, but one value duplicated in place of two others.
    EXPECT_EQ(message_for({-2, 0, 5, 5, 7}), "thread sort, run 7: the result does not hold the values of its input");
    EXPECT_EQ(message_for({-2, 0, 4, 9}), "thread sort, run 7: the result does not hold the values of its input");
    EXPECT_EQ(message_for({-2, 0, 4, 4, 9, 9}), "thread sort, run 7: the result does not hold the values of its input");
}

TEST(Generator, WideValuesSpreadOverThreeTimesTheSizeFromA32BitGenerator) {
    seed_generator(1);
    value_array values;
    generate_values(values, 100'000, value_kind::wide);
    EXPECT_EQ(values[0], static_cast<std::int32_t>(1'791'095'845u % 300'000u)) << "std::mt19937 seeded 1";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    EXPECT_GE(*low, 0);
    EXPECT_LT(*high, 300'000);
    EXPECT_GT(*high, 290'000) << "well beyond the classic 15-bit range";

    seed_generator(1);
    value_array again;
    generate_values(again, 100'000, value_kind::wide);
    EXPECT_EQ(values, again) << "seeding restarts the wide sequence too";
}
