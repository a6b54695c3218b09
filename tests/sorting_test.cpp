#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "sorting/sorting.hpp"

// Random ranges, subranges and partition postconditions are also covered by the fuzz target.

TEST(Partition, WorkedCasesPlaceThePivotAndPairTheRest) {
    value_array six{5, 7, 1, 9, 5, 2};
    EXPECT_EQ(partition(six, 0, 5), 3);
    EXPECT_EQ(six, (value_array{2, 5, 1, 5, 7, 9}));

    value_array descending{5, 3};
    EXPECT_EQ(partition(descending, 0, 1), 1);
    EXPECT_EQ(descending, (value_array{3, 5}));

    value_array ascending{3, 5};
    EXPECT_EQ(partition(ascending, 0, 1), 0);
    EXPECT_EQ(ascending, (value_array{3, 5}));

    value_array equal(7, 4); // every value <= pivot: the pivot goes to high, nothing else moves
    EXPECT_EQ(partition(equal, 0, 6), 6);
    EXPECT_EQ(equal, value_array(7, 4));
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
    EXPECT_TRUE(empty.empty());
}

TEST(Sorts, MatchStdSortOnRandomArrays) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 150; ++trial) {
        const auto n = static_cast<std::int32_t>(rng() % 3000);
        // Narrow value ranges give long runs of equal values; wide ones give few duplicates.
        const std::int32_t spread = trial % 3 == 0 ? 3 : trial % 3 == 1 ? 1000 : INT32_MAX;
        std::uniform_int_distribution<std::int32_t> dist(-spread, spread);
        value_array input(static_cast<std::size_t>(n));
        std::generate(input.begin(), input.end(), [&] { return dist(rng); });
        value_array expected = input;
        std::sort(expected.begin(), expected.end());

        value_array sequential = input;
        quicksort(sequential, 0, n - 1);
        ASSERT_EQ(sequential, expected) << "quicksort, trial " << trial;
        value_array threaded = input;
        thread_quicksort(threaded, 0, n - 1);
        ASSERT_EQ(threaded, expected) << "thread_quicksort, trial " << trial;
        value_array chunked = input;
        parallel_quicksort(chunked, 0, n - 1, static_cast<std::int32_t>(1 + rng() % 700), n);
        ASSERT_EQ(chunked, expected) << "parallel_quicksort, trial " << trial;
    }
}

TEST(ThreadQuicksort, PivotLargestOrSmallestLeavesOneThreadAnEmptyRange) {
    value_array largest_first{9, 3, 7, 1, 5};
    thread_quicksort(largest_first, 0, 4);
    EXPECT_EQ(largest_first, (value_array{1, 3, 5, 7, 9}));
    value_array smallest_first{1, 9, 3, 7, 5};
    thread_quicksort(smallest_first, 0, 4);
    EXPECT_EQ(smallest_first, (value_array{1, 3, 5, 7, 9}));
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
    value_array duplicates(1000, 9);
    parallel_quicksort(duplicates, 0, 999, 7, 1000);
    EXPECT_EQ(duplicates, value_array(1000, 9));
}

TEST(ParallelQuicksort, RefusesArgumentsThatWouldLeaveTheArray) {
    value_array values{3, 2, 1};
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 0, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, -5, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 2, 4), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 5, 2, 3), std::invalid_argument);
    EXPECT_EQ(values, (value_array{3, 2, 1}));
}
