// The sorting routines every benchmark phase times. All of them sort an inclusive index range
// [low, high] of a value_array in ascending order, in place from the caller's point of view.
// They keep no state between calls and take no locks: concurrent calls must work on different
// arrays or on disjoint ranges of one array.
//
// Each routine takes an observer type whose static hooks hear what it does. The default,
// no_observer, does nothing, so the instantiations the timed phases call compile to the plain
// routines; the breakdown instantiates them again with an observer that counts and clocks.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using value_array = std::vector<std::int32_t>;

// Points on the calling thread where a strategy's stage ends.
enum class sort_stage {
    first_partition, // thread_quicksort: the partition before the threads start
    launched,        // parallel_quicksort: every chunk task launched
    waited,          // every chunk task finished
    split,           // the sorted chunks copied into runs
    merged,          // the runs merged back into the array
};

struct no_observer {
    static constexpr bool observes_threads = false; // thread_quicksort starts quicksort itself
    static void entered() {}                      // a quicksort call begins
    static void left() {}                         // and ends
    static void counted() {}                      // one element counted (one atomic increment)
    static void swapped() {}                      // one swap
    static void partitioned(std::int32_t /*low*/, std::int32_t /*p*/, std::int32_t /*high*/) {}
    static void side_started(int /*side*/) {}     // thread_quicksort: 0 is the left thread, 1 the right
    static void side_finished(int /*side*/) {}
    static void stage(sort_stage) {}
    static void task_started(std::int32_t /*first*/) {} // a chunk task, named by its first index
    static void task_finished(std::int32_t /*first*/) {}
    static void merged_run(std::size_t /*size*/) {}      // a merge step appended this many elements
};

// Moves the element at `low` (the pivot) to its final place p and returns p, with every element
// of [low, p-1] <= pivot and every element of [p+1, high] > pivot. Requires low < high.
// Places the pivot by counting the elements <= pivot (one sequentially consistent atomic
// increment each, a cost the benchmark deliberately measures), then swaps misplaced pairs.
// O(high - low) time, no allocation.
template <typename Observer = no_observer>
std::int32_t partition(value_array& values, std::int32_t low, std::int32_t high) {
    const std::int32_t pivot = values[low];

    // The counter is atomic and sequentially consistent although only this thread touches it:
    // the cost of that increment is part of what the benchmark measures.
    std::atomic<std::int32_t> count{0};
    for (std::int32_t k = low + 1; k <= high; ++k) {
        if (values[k] <= pivot) {
            count.fetch_add(1, std::memory_order_seq_cst);
            Observer::counted();
        }
    }

    const std::int32_t p = low + count.load();
    std::swap(values[p], values[low]);
    Observer::swapped();

    // The left side now has room for exactly `count` elements <= pivot, so every element > pivot
    // left of p has a partner <= pivot right of p; swap them pairwise. The loop condition keeps
    // j > p, so i may reach p + 1 without leaving the range.
    std::int32_t i = low;
    std::int32_t j = high;
    while (i < p && j > p) {
        while (values[i] <= pivot && i <= p) {
            ++i;
        }
        while (values[j] > pivot && j > p) {
            --j;
        }
        if (i <= j) {
            std::swap(values[i], values[j]);
            Observer::swapped();
            ++i;
            --j;
        }
    }
    Observer::partitioned(low, p, high);
    return p;
}

// Recursive quicksort on [low, high], first element as pivot; returns at once when low >= high.
// Recurses into the left side and loops on the right. O(n log n) on random input, O(n^2) on
// ordered input or long runs of equal values; stack depth grows with nested left sides.
template <typename Observer = no_observer>
void quicksort(value_array& values, std::int32_t low, std::int32_t high) {
    Observer::entered();
    while (low < high) {
        const std::int32_t p = partition<Observer>(values, low, high);
        quicksort<Observer>(values, low, p - 1);
        low = p + 1;
    }
    Observer::left();
}

// One partition on the calling thread, then each side sorted by quicksort on a freshly created
// thread; returns once both threads are joined. Creates no thread when low >= high. If the
// second thread cannot be started, the first is joined before the error propagates.
template <typename Observer = no_observer>
void thread_quicksort(value_array& values, std::int32_t low, std::int32_t high) {
    if (low >= high) {
        return;
    }
    const std::int32_t p = partition<Observer>(values, low, high);
    Observer::stage(sort_stage::first_partition);
    const auto start = [&values](std::int32_t first, std::int32_t last, int side) {
        if constexpr (Observer::observes_threads) {
            return std::thread([&values, first, last, side] {
                Observer::side_started(side);
                quicksort<Observer>(values, first, last);
                Observer::side_finished(side);
            });
        } else {
            return std::thread(quicksort<Observer>, std::ref(values), first, last);
        }
    };
    std::thread left = start(low, p - 1, 0);
    std::thread right;
    try {
        right = start(p + 1, high, 1);
    } catch (...) {
        // A joinable thread destroyed during unwinding would end the process.
        left.join();
        throw;
    }
    left.join();
    right.join();
}

// Sorts `values` by quicksorting each `chunk`-element slice in its own std::async task, then
// merging the sorted slices one after another into the accumulated result on the calling thread.
// `low` is accepted for symmetry and unused: chunking always starts at index 0. Requires
// chunk > 0, size == values.size() and high == size - 1 (otherwise throws std::invalid_argument).
// Costs beyond the chunk sorts are intended: every chunk is copied twice, and the merge is
// sequential and unbalanced, appending about chunk * (2 + 3 + ... + chunks) elements one at a
// time into unreserved arrays. If a task throws, its error is rethrown after every task has
// ended, and `values` is left partly sorted.
template <typename Observer = no_observer>
void parallel_quicksort(value_array& values, std::int32_t /*low*/, std::int32_t high, std::int32_t chunk,
                        std::int32_t size) {
    // A mismatched size or high would send the tasks or the split outside the array.
    const std::int64_t length = static_cast<std::int64_t>(values.size());
    if (chunk <= 0 || size != length || high != length - 1) {
        throw std::invalid_argument("parallel_quicksort: needs chunk > 0, size == values.size() and high == size - 1");
    }

    // Chunk boundaries are computed in 64 bits: start + chunk may exceed the 32-bit index range
    // for the last chunk of a large array.
    std::vector<std::future<void>> tasks;
    for (std::int64_t start = 0; start < length; start += chunk) {
        const auto first = static_cast<std::int32_t>(start);
        tasks.push_back(std::async(std::launch::async, [&values, first, chunk, high] {
            Observer::task_started(first);
            const auto last = static_cast<std::int32_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(first) + chunk - 1, high));
            if (first < last) {
                const std::int32_t p = partition<Observer>(values, first, last);
                quicksort<Observer>(values, first, p - 1);
                quicksort<Observer>(values, p + 1, last);
            }
            Observer::task_finished(first);
        }));
    }
    Observer::stage(sort_stage::launched);
    // get() rethrows a task's error here; the futures not yet consumed then wait for their tasks
    // as they are destroyed, so no task outlives the array it sorts.
    for (auto& task : tasks) {
        task.get();
    }
    Observer::stage(sort_stage::waited);

    // Every chunk is copied twice on purpose (into a local, then into the list of runs).
    std::vector<value_array> runs;
    for (std::int64_t c = 0; c < length; c += chunk) {
        const std::int64_t end = std::min<std::int64_t>(c + chunk, size);
        value_array local(values.begin() + c, values.begin() + end);
        runs.push_back(local);
    }
    Observer::stage(sort_stage::split);

    values.clear();
    if (runs.empty()) {
        Observer::stage(sort_stage::merged);
        return;
    }
    values.assign(runs.front().begin(), runs.front().end());

    // Sequential, unbalanced merge into unreserved arrays: this tail is part of the strategy.
    for (std::size_t r = 1; r < runs.size(); ++r) {
        const value_array& run = runs[r];
        value_array merged;
        auto a = values.cbegin();
        auto b = run.cbegin();
        while (a != values.cend() && b != run.cend()) {
            if (*b < *a) {
                merged.push_back(*b++);
            } else {
                merged.push_back(*a++);
            }
        }
        for (; a != values.cend(); ++a) {
            merged.push_back(*a);
        }
        for (; b != run.cend(); ++b) {
            merged.push_back(*b);
        }
        values = std::move(merged);
        Observer::merged_run(values.size());
    }
    Observer::stage(sort_stage::merged);
}

// The timed phases call these instantiations, compiled once in sorting.cpp.
extern template std::int32_t partition<no_observer>(value_array&, std::int32_t, std::int32_t);
extern template void quicksort<no_observer>(value_array&, std::int32_t, std::int32_t);
extern template void thread_quicksort<no_observer>(value_array&, std::int32_t, std::int32_t);
extern template void parallel_quicksort<no_observer>(value_array&, std::int32_t, std::int32_t, std::int32_t,
                                                     std::int32_t);
