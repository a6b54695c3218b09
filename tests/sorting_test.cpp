// The measured sorts: edge cases, runs of equal values, the partition, chunk boundaries, failed threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <system_error>
#include <numeric>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "sorting/sorting.hpp"
#include "thread_limit.hpp"

// Random ranges, subranges and partition postconditions are also covered by the fuzz target.

TEST(Partition, WorkedCasesPlaceThePivotAndPairTheRest) {
    const struct {
        value_array input, output;
        std::int32_t p;
    } cases[] = {
        {{5, 7, 1, 9, 5, 2}, {2, 5, 1, 5, 7, 9}, 3},
        {{5, 3}, {3, 5}, 1},
        {{3, 5}, {3, 5}, 0},
        {value_array(7, 4), value_array(7, 4), 6}, // every value <= pivot: it goes to high, nothing else moves
    };
    for (auto c : cases) {
        EXPECT_EQ(partition(c.input, 0, static_cast<std::int32_t>(c.input.size()) - 1), c.p);
        EXPECT_EQ(c.input, c.output);
    }
}

TEST(Sorts, EmptyAndSingleElementRangesChangeNothing) {
    for (const auto sort : {quicksort<>, thread_quicksort<>}) {
        value_array empty;
        sort(empty, 0, -1);
        EXPECT_TRUE(empty.empty());
        value_array values{3, 1, 2};
        sort(values, 1, 1);
        sort(values, 2, 0);
        EXPECT_EQ(values, (value_array{3, 1, 2}));
    }
    value_array empty;
    parallel_quicksort(empty, 0, -1, 4, 0);
    // A pivot that is the largest or the smallest leaves one of the two threads an empty range.
    for (value_array values : {value_array{9, 3, 7, 1, 5}, value_array{1, 9, 3, 7, 5}}) {
        thread_quicksort(values, 0, 4);
        EXPECT_EQ(values, (value_array{1, 3, 5, 7, 9}));
    }
    EXPECT_TRUE(empty.empty());
}

TEST(Sorts, MatchStdSortOnLongRunsOfEqualValuesAndOnFewDuplicates) {
    // Random arrays of every shape are the fuzz target's job; these two are the benchmark's kinds.
    std::mt19937 rng(11);
    for (const std::int32_t spread : {3, 1'000'000}) {
        value_array input(2'500);
        std::generate(input.begin(), input.end(), [&] { return static_cast<std::int32_t>(rng() % spread) - 1; });
        value_array expected = input;
        std::sort(expected.begin(), expected.end());
        value_array sorted[3] = {input, input, input};
        quicksort(sorted[0], 0, 2'499);
        thread_quicksort(sorted[1], 0, 2'499);
        parallel_quicksort(sorted[2], 0, 2'499, 300, 2'500);
        for (const auto& result : sorted) {
            EXPECT_EQ(result, expected) << spread;
        }
    }
}

TEST(ParallelQuicksort, ChunkBoundariesAndTheLastElement) {
    const value_array input{50, 40, 30, 20, 10, 45, 35, 25, 15, 5, 12, 8, -7}; // last is the smallest
    value_array expected = input;
    std::sort(expected.begin(), expected.end());
    // Shorter than one chunk, equal to it, a multiple of it, not a multiple, one element per chunk.
    for (const std::int32_t chunk : {100, 13, 1, 4, 5, 6}) {
        value_array values = input;
        parallel_quicksort(values, 0, 12, chunk, 13);
        EXPECT_EQ(values, expected) << "chunk " << chunk;
    }
}

TEST(ParallelQuicksort, RefusesArgumentsThatWouldLeaveTheArray) {
    value_array values{3, 2, 1};
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 0, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, -5, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 2, 4), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 5, 2, 3), std::invalid_argument);
    EXPECT_EQ(values, (value_array{3, 2, 1}));
}

TEST(ThreadQuicksortDeathTest, SecondThreadThatCannotStartJoinsTheFirstAndThrows) {
    QSB_SKIP_IF_SANITIZED();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            value_array values(2000);
            std::iota(values.rbegin(), values.rend(), 0);
            if (!allow_only_threads(1)) {
                std::exit(3);
            }
            try {
                thread_quicksort(values, 0, 1999);
            } catch (const std::system_error&) {
                std::exit(0);
            }
            std::exit(5); // both threads started: the limit did not bite
        },
        ::testing::ExitedWithCode(0), "");
}
