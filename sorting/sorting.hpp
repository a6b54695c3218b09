// The sorting routines every benchmark phase times. All of them sort an inclusive index range
// [low, high] of a value_array in ascending order, in place from the caller's point of view.
// They keep no state between calls and take no locks: concurrent calls must work on different
// arrays or on disjoint ranges of one array.
#pragma once

#include <cstdint>
#include <vector>

using value_array = std::vector<std::int32_t>;

// Moves the element at `low` (the pivot) to its final place p and returns p, with every element
// of [low, p-1] <= pivot and every element of [p+1, high] > pivot. Requires low < high.
// Places the pivot by counting the elements <= pivot (one sequentially consistent atomic
// increment each, a cost the benchmark deliberately measures), then swaps misplaced pairs.
// O(high - low) time, no allocation.
std::int32_t partition(value_array& values, std::int32_t low, std::int32_t high);

// Recursive quicksort on [low, high], first element as pivot; returns at once when low >= high.
// Recurses into the left side and loops on the right. O(n log n) on random input, O(n^2) on
// ordered input or long runs of equal values; stack depth grows with nested left sides.
void quicksort(value_array& values, std::int32_t low, std::int32_t high);

// One partition on the calling thread, then each side sorted by quicksort on a freshly created
// thread; returns once both threads are joined. Creates no thread when low >= high. If the
// second thread cannot be started, the first is joined before the error propagates.
void thread_quicksort(value_array& values, std::int32_t low, std::int32_t high);

// Sorts `values` by quicksorting each `chunk`-element slice in its own std::async task, then
// merging the sorted slices one after another into the accumulated result on the calling thread.
// `low` is accepted for symmetry and unused: chunking always starts at index 0. Requires
// chunk > 0, size == values.size() and high == size - 1 (otherwise throws std::invalid_argument).
// Costs beyond the chunk sorts are intended: every chunk is copied twice, and the merge is
// sequential and unbalanced, appending about chunk * (2 + 3 + ... + chunks) elements one at a
// time into unreserved arrays. If a task throws, its error is rethrown after every task has
// ended, and `values` is left partly sorted.
void parallel_quicksort(value_array& values, std::int32_t low, std::int32_t high, std::int32_t chunk,
                        std::int32_t size);
