#include "sorting/sorting.hpp"

#include <algorithm>
#include <atomic>
#include <future>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>

std::int32_t partition(value_array& values, std::int32_t low, std::int32_t high) {
    const std::int32_t pivot = values[low];

    // The counter is atomic and sequentially consistent although only this thread touches it:
    // the cost of that increment is part of what the benchmark measures.
    std::atomic<std::int32_t> count{0};
    for (std::int32_t k = low + 1; k <= high; ++k) {
        if (values[k] <= pivot) {
            count.fetch_add(1, std::memory_order_seq_cst);
        }
    }

    const std::int32_t p = low + count.load();
    std::swap(values[p], values[low]);

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
            ++i;
            --j;
        }
    }
    return p;
}

void quicksort(value_array& values, std::int32_t low, std::int32_t high) {
    while (low < high) {
        const std::int32_t p = partition(values, low, high);
        quicksort(values, low, p - 1);
        low = p + 1;
    }
}

void thread_quicksort(value_array& values, std::int32_t low, std::int32_t high) {
    if (low >= high) {
        return;
    }
    const std::int32_t p = partition(values, low, high);
    std::thread left(quicksort, std::ref(values), low, p - 1);
    std::thread right;
    try {
        right = std::thread(quicksort, std::ref(values), p + 1, high);
    } catch (...) {
        // A joinable thread destroyed during unwinding would end the process.
        left.join();
        throw;
    }
    left.join();
    right.join();
}

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
            const auto last = static_cast<std::int32_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(first) + chunk - 1, high));
            if (first < last) {
                const std::int32_t p = partition(values, first, last);
                quicksort(values, first, p - 1);
                quicksort(values, p + 1, last);
            }
        }));
    }
    // get() rethrows a task's error here; the futures not yet consumed then wait for their tasks
    // as they are destroyed, so no task outlives the array it sorts.
    for (auto& task : tasks) {
        task.get();
    }

    // Every chunk is copied twice on purpose (into a local, then into the list of runs).
    std::vector<value_array> runs;
    for (std::int64_t c = 0; c < length; c += chunk) {
        const std::int64_t end = std::min<std::int64_t>(c + chunk, size);
        value_array local(values.begin() + c, values.begin() + end);
        runs.push_back(local);
    }

    values.clear();
    if (runs.empty()) {
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
    }
}
