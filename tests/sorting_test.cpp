#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "sorting/sorting.hpp"

namespace {

// Checks partition's postconditions around the returned index for the pivot that stood at low.
void expect_partitioned(const value_array& values, std::int32_t low, std::int32_t high, std::int32_t p,
                        std::int32_t pivot) {
    ASSERT_LE(low, p);
    ASSERT_LE(p, high);
    EXPECT_EQ(values[p], pivot);
    for (std::int32_t k = low; k < p; ++k) {
        EXPECT_LE(values[k], pivot) << "left side, index " << k;
    }
    for (std::int32_t k = p + 1; k <= high; ++k) {
        EXPECT_GT(values[k], pivot) << "right side, index " << k;
    }
}

value_array random_values(std::mt19937& rng, std::size_t n, std::int32_t lo, std::int32_t hi) {
    std::uniform_int_distribution<std::int32_t> dist(lo, hi);
    value_array values(n);
    for (auto& v : values) {
        v = dist(rng);
    }
    return values;
}

value_array sorted_copy(value_array values) {
    std::sort(values.begin(), values.end());
    return values;
}

} // namespace

TEST(Partition, WorkedSixElementCase) {
    value_array values{5, 7, 1, 9, 5, 2};
    EXPECT_EQ(partition(values, 0, 5), 3);
    EXPECT_EQ(values, (value_array{2, 5, 1, 5, 7, 9}));
}

TEST(Partition, TwoElements) {
    value_array descending{5, 3};
    EXPECT_EQ(partition(descending, 0, 1), 1);
    EXPECT_EQ(descending, (value_array{3, 5}));

    value_array ascending{3, 5};
    EXPECT_EQ(partition(ascending, 0, 1), 0);
    EXPECT_EQ(ascending, (value_array{3, 5}));
}

TEST(Partition, AllEqualMovesPivotToHighOnly) {
    value_array values(7, 4);
    EXPECT_EQ(partition(values, 0, 6), 6);
    EXPECT_EQ(values, value_array(7, 4));
}

TEST(Partition, TouchesOnlyItsRange) {
    value_array values{100, -100, 8, 3, 9, 1, 8, 2, -100, 100};
    const std::int32_t p = partition(values, 2, 7);
    expect_partitioned(values, 2, 7, p, 8);
    EXPECT_EQ(values.front(), 100);
    EXPECT_EQ(values[1], -100);
    EXPECT_EQ(values[8], -100);
    EXPECT_EQ(values.back(), 100);
}

TEST(Partition, PostconditionsOnRandomRanges) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 500; ++trial) {
        const auto n = static_cast<std::size_t>(2 + trial % 60);
        // Narrow value ranges force many values equal to the pivot, which the cursor loop must keep left.
        value_array values = random_values(rng, n, -5, trial % 2 == 0 ? 5 : 1000);
        const value_array before = values;
        const std::int32_t pivot = values[0];
        const auto high = static_cast<std::int32_t>(n - 1);
        const std::int32_t p = partition(values, 0, high);
        expect_partitioned(values, 0, high, p, pivot);
        EXPECT_EQ(sorted_copy(values), sorted_copy(before)) << "partition must only permute";
        if (HasFailure()) {
            return;
        }
    }
}

TEST(Quicksort, EmptyAndSingleRangesChangeNothing) {
    value_array empty;
    quicksort(empty, 0, -1);
    EXPECT_TRUE(empty.empty());

    value_array values{3, 1, 2};
    quicksort(values, 1, 1);
    quicksort(values, 2, 0);
    EXPECT_EQ(values, (value_array{3, 1, 2}));
}

TEST(Quicksort, SortsSubrangeOnly) {
    value_array values{9, 5, 4, 3, 2, 1, 0};
    quicksort(values, 1, 5);
    EXPECT_EQ(values, (value_array{9, 1, 2, 3, 4, 5, 0}));
}

TEST(Quicksort, MatchesStdSortOnRandomArrays) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        const auto n = static_cast<std::size_t>(rng() % 2000);
        value_array values = random_values(rng, n, trial % 3 == 0 ? -3 : INT32_MIN, trial % 3 == 0 ? 3 : INT32_MAX);
        const value_array expected = sorted_copy(values);
        quicksort(values, 0, static_cast<std::int32_t>(n) - 1);
        ASSERT_EQ(values, expected) << "trial " << trial << ", n " << n;
    }
}

TEST(Quicksort, DescendingInputAndLongRunsOfEqualValues) {
    value_array descending(3000);
    for (std::size_t k = 0; k < descending.size(); ++k) {
        descending[k] = static_cast<std::int32_t>(descending.size() - k);
    }
    const value_array expected = sorted_copy(descending);
    quicksort(descending, 0, 2999);
    EXPECT_EQ(descending, expected);

    value_array equal(3000, 42);
    quicksort(equal, 0, 2999);
    EXPECT_EQ(equal, value_array(3000, 42));
}

class ParallelQuicksort : public ::testing::Test {
protected:
    static void sort_and_compare(value_array values, std::int32_t chunk) {
        const value_array expected = sorted_copy(values);
        const auto size = static_cast<std::int32_t>(values.size());
        parallel_quicksort(values, 0, size - 1, chunk, size);
        EXPECT_EQ(values, expected) << "size " << size << ", chunk " << chunk;
    }
};

TEST_F(ParallelQuicksort, EmptyArrayStaysEmpty) {
    value_array values;
    parallel_quicksort(values, 0, -1, 4, 0);
    EXPECT_TRUE(values.empty());
}

TEST_F(ParallelQuicksort, ChunkBoundaries) {
    std::mt19937 rng(3);
    sort_and_compare(random_values(rng, 5, 0, 50), 100);  // shorter than one chunk
    sort_and_compare(random_values(rng, 1, 0, 50), 100);  // a single element
    sort_and_compare(random_values(rng, 23, 0, 50), 5);   // not a multiple of the chunk
    sort_and_compare(random_values(rng, 20, 0, 50), 5);   // an exact multiple
    sort_and_compare(random_values(rng, 20, 0, 50), 1);   // one element per chunk
    sort_and_compare(random_values(rng, 20, 0, 50), 20);  // chunk equal to the size
}

TEST_F(ParallelQuicksort, LastElementSmallestEndsFirst) {
    value_array values{50, 40, 30, 20, 10, 45, 35, 25, 15, -7};
    sort_and_compare(values, 3);
    sort_and_compare(values, 4);
}

TEST_F(ParallelQuicksort, ManyDuplicatesKeepTheirMultiset) {
    std::mt19937 rng(5);
    sort_and_compare(random_values(rng, 5000, 0, 3), 64);
    sort_and_compare(value_array(1000, 9), 7);
}

TEST_F(ParallelQuicksort, MatchesStdSortOnRandomArrays) {
    std::mt19937 rng(13);
    for (int trial = 0; trial < 60; ++trial) {
        const auto n = static_cast<std::size_t>(rng() % 3000);
        const auto chunk = static_cast<std::int32_t>(1 + rng() % 700);
        sort_and_compare(random_values(rng, n, -1000, 1000), chunk);
        if (HasFailure()) {
            return;
        }
    }
}

TEST_F(ParallelQuicksort, RefusesArgumentsThatWouldLeaveTheArray) {
    value_array values{3, 2, 1};
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 0, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, -5, 3), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 2, 2, 4), std::invalid_argument);
    EXPECT_THROW(parallel_quicksort(values, 0, 5, 2, 3), std::invalid_argument);
    EXPECT_EQ(values, (value_array{3, 2, 1}));
}

TEST(ThreadQuicksort, EmptyAndSingleElement) {
    value_array empty;
    thread_quicksort(empty, 0, -1);
    EXPECT_TRUE(empty.empty());

    value_array one{8};
    thread_quicksort(one, 0, 0);
    EXPECT_EQ(one, value_array{8});
}

TEST(ThreadQuicksort, PivotLargestOrSmallestLeavesOneSideEmpty) {
    value_array largest_first{9, 3, 7, 1, 5};
    thread_quicksort(largest_first, 0, 4);
    EXPECT_EQ(largest_first, (value_array{1, 3, 5, 7, 9}));

    value_array smallest_first{1, 9, 3, 7, 5};
    thread_quicksort(smallest_first, 0, 4);
    EXPECT_EQ(smallest_first, (value_array{1, 3, 5, 7, 9}));
}

TEST(ThreadQuicksort, MatchesStdSortOnRandomArrays) {
    std::mt19937 rng(17);
    for (int trial = 0; trial < 40; ++trial) {
        const auto n = static_cast<std::size_t>(rng() % 5000);
        value_array values = random_values(rng, n, -50, trial % 2 == 0 ? 50 : 100000);
        const value_array expected = sorted_copy(values);
        thread_quicksort(values, 0, static_cast<std::int32_t>(n) - 1);
        ASSERT_EQ(values, expected) << "trial " << trial;
    }
}
