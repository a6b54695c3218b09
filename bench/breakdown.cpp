// The breakdown's extra, untimed runs: each strategy's stages counted and clocked by an observer.
#include "bench/breakdown.hpp"

#include <algorithm>
#include <bit>
#include <vector>

#include "common/clock.hpp"
#include "bench/generator.hpp"
#include "bench/phases.hpp"
#include "bench/timed_sort.hpp"
#include "records/strategy.hpp"
#include "sorting/sorting.hpp"

namespace {

// The instrumented sorts run one at a time, so the clocks can be plain statics; the counters are
// per thread because quicksort runs on the chunk tasks' and the sort threads' threads too.
struct probe_counts {
    std::int64_t depth = 0;
    std::int64_t deepest = 0;
    std::int64_t partitions = 0;
    std::int64_t counted = 0;
    std::int64_t counted_pivot_largest = 0;
    std::int64_t swaps = 0;
    std::int32_t last_pivot = 0;
};

struct probe {
    static inline thread_local probe_counts count;

    static inline duration_ns stage_at[5] = {};
    static inline duration_ns side_start[2] = {};
    static inline duration_ns side_end[2] = {};
    static inline std::int32_t chunk = 1;
    static inline std::vector<std::pair<duration_ns, duration_ns>> task_times;
    static inline std::int64_t appends = 0;
    static inline std::int64_t reallocations = 0;
    static inline std::int32_t split_pivot = 0;

    static constexpr bool observes_threads = true;
    static void entered() { ++count.depth; }
    static void left() { --count.depth; }
    static void counted() { ++count.counted; }
    static void swapped() { ++count.swaps; }
    static void partitioned(std::int32_t low, std::int32_t p, std::int32_t high) {
        ++count.partitions;
        // thread_quicksort's first partition runs outside any quicksort call.
        count.deepest = std::max(count.deepest, std::max<std::int64_t>(count.depth, 1));
        if (p == high) {
            count.counted_pivot_largest += high - low;
        }
        count.last_pivot = p;
    }
    static void side_started(int side) { side_start[side] = now_ns(); }
    static void side_finished(int side) { side_end[side] = now_ns(); }
    static void stage(sort_stage s) {
        stage_at[static_cast<int>(s)] = now_ns();
        if (s == sort_stage::first_partition) {
            split_pivot = count.last_pivot;
        }
    }
    static void task_started(std::int32_t first) { task_times[static_cast<std::size_t>(first / chunk)].first = now_ns(); }
    static void task_finished(std::int32_t first) {
        task_times[static_cast<std::size_t>(first / chunk)].second = now_ns();
    }
    static void merged_run(std::size_t size) {
        appends += static_cast<std::int64_t>(size);
        // Each merge array starts empty and libstdc++ doubles its capacity from 1: growing to
        // `size` elements takes one allocation per bit of `size`. Counting them here rather than
        // beside every push_back keeps the timed instantiation's machine code unchanged.
        reallocations += static_cast<std::int64_t>(std::bit_width(size));
    }

    static duration_ns at(sort_stage s) { return stage_at[static_cast<int>(s)]; }
};

// The run whose instrumented time is the median (the lower one of an even count): its figures
// belong together, so its stages add up to its time as field-by-field medians would not.
template <typename Record>
Record median_run(std::vector<Record> runs) {
    std::sort(runs.begin(), runs.end(), [](const Record& a, const Record& b) { return a.sort_ns < b.sort_ns; });
    return runs[(runs.size() - 1) / 2];
}

// Generates a fresh array, times `sort` on it and checks the result, like a timed phase does.
template <typename Sort>
duration_ns instrumented_run(value_array& data, const bench_config& sizes, const char* strategy, std::uint64_t run,
                             const sort_listener& on_sorted, Sort sort) {
    data.clear();
    generate_values(data, sizes.array_size, sizes.values);
    const duration_ns elapsed = time_checked_sort(data, sort, strategy, [run] { return run; });
    if (on_sorted) {
        on_sorted(strategy);
    }
    return elapsed;
}

quicksort_figures sequential_breakdown(value_array& data, const bench_config& sizes, const sort_listener& on_sorted) {
    std::vector<quicksort_figures> runs;
    for (std::uint64_t run = 1; run <= sizes.run_count; ++run) {
        quicksort_figures f;
        const duration_ns elapsed = instrumented_run(data, sizes, "sequential sort (breakdown)", run, on_sorted,
                                                     [&f](value_array& v) { f = count_quicksort(v); });
        f.sort_ns = elapsed;
        runs.push_back(f);
    }
    return median_run(std::move(runs));
}

thread_figures thread_breakdown(value_array& data, const bench_config& sizes, const sort_listener& on_sorted) {
    const auto high = static_cast<std::int32_t>(sizes.array_size) - 1;
    std::vector<thread_figures> runs;
    for (std::uint64_t run = 1; run <= sizes.run_count; ++run) {
        probe::count = {};
        std::fill(std::begin(probe::side_start), std::end(probe::side_start), 0);
        std::fill(std::begin(probe::side_end), std::end(probe::side_end), 0);
        duration_ns start = 0;
        thread_figures f;
        f.sort_ns = instrumented_run(data, sizes, "thread sort (breakdown)", run, on_sorted, [high, &start](value_array& v) {
            start = now_ns();
            thread_quicksort<probe>(v, 0, high);
        });
        if (high > 0) {
            f.first_partition_ns = probe::at(sort_stage::first_partition) - start;
            f.left_ns = probe::side_end[0] - probe::side_start[0];
            f.right_ns = probe::side_end[1] - probe::side_start[1];
            f.idle_ns = std::max(probe::side_end[0], probe::side_end[1]) - std::min(probe::side_end[0], probe::side_end[1]);
            f.left_share = static_cast<double>(probe::split_pivot) / static_cast<double>(sizes.array_size);
        }
        runs.push_back(f);
    }
    return median_run(std::move(runs));
}

chunked_figures chunked_breakdown(value_array& data, const bench_config& sizes, const sort_listener& on_sorted) {
    const auto size = static_cast<std::int32_t>(sizes.array_size);
    const auto chunk = static_cast<std::int32_t>(sizes.chunk_size);
    std::vector<chunked_figures> runs;
    for (std::uint64_t run = 1; run <= sizes.run_count; ++run) {
        probe::chunk = chunk;
        probe::task_times.assign(static_cast<std::size_t>((sizes.array_size + sizes.chunk_size - 1) / sizes.chunk_size),
                                 {0, 0});
        probe::appends = 0;
        probe::reallocations = 0;
        duration_ns start = 0;
        chunked_figures f;
        f.sort_ns = instrumented_run(data, sizes, "parallel sort (breakdown)", run, on_sorted, [&](value_array& v) {
            start = now_ns();
            parallel_quicksort<probe>(v, 0, size - 1, chunk, size);
        });
        f.launch_ns = probe::at(sort_stage::launched) - start;
        f.wait_ns = probe::at(sort_stage::waited) - probe::at(sort_stage::launched);
        f.split_ns = probe::at(sort_stage::split) - probe::at(sort_stage::waited);
        f.merge_ns = probe::at(sort_stage::merged) - probe::at(sort_stage::split);
        f.rest_ns = f.sort_ns - (f.launch_ns + f.wait_ns + f.split_ns + f.merge_ns);
        duration_ns first_start = probe::task_times.front().first;
        duration_ns last_end = 0;
        for (const auto& [begin, end] : probe::task_times) {
            first_start = std::min(first_start, begin);
            last_end = std::max(last_end, end);
            f.task_sum_ns += end - begin;
        }
        f.chunk_span_ns = last_end - first_start;
        f.appended = probe::appends;
        f.reallocations = probe::reallocations;
        runs.push_back(f);
    }
    return median_run(std::move(runs));
}

duration_ns median_of_strategy(const benchmark_results& timed, strategy s) {
    for (const auto& result : timed.strategies) {
        if (result.name == name_of(s)) {
            return result.summary.median;
        }
    }
    return 0;
}

} // namespace

quicksort_figures count_quicksort(value_array& values) {
    probe::count = {};
    quicksort<probe>(values, 0, static_cast<std::int32_t>(values.size()) - 1);
    quicksort_figures f;
    f.partitions = probe::count.partitions;
    f.counted = probe::count.counted;
    f.counted_pivot_largest = probe::count.counted_pivot_largest;
    f.swaps = probe::count.swaps;
    f.deepest = probe::count.deepest;
    f.counted_per_element = values.empty() ? 0 : static_cast<double>(f.counted) / static_cast<double>(values.size());
    return f;
}

breakdown_results measure_breakdown(const bench_config& sizes, const benchmark_results& timed,
                                    const sort_listener& on_sorted) {
    breakdown_results b;
    b.runs = sizes.run_count;
    value_array data;
    b.sequential = sequential_breakdown(data, sizes, on_sorted);
    b.thread = thread_breakdown(data, sizes, on_sorted);
    b.parallel = chunked_breakdown(data, sizes, on_sorted);

    // The thread sort alone is timed with the plain routine, exactly as phase 2 times it.
    duration_list alone;
    data.clear();
    run_thread_sorts_alone(data, alone, sizes, on_sorted);
    contention_figures& c = b.contention;
    c.thread_alone_ns = summarize(alone).median;
    c.thread_in_loop_ns = median_of_strategy(timed, strategy::thread);
    c.thread_factor = exact_ratio(c.thread_in_loop_ns, c.thread_alone_ns);
    c.chunked_alone_ns = median_of_strategy(timed, strategy::parallel);
    c.chunked_in_loop_ns = median_of_strategy(timed, strategy::parallel_for);
    c.chunked_factor = exact_ratio(c.chunked_in_loop_ns, c.chunked_alone_ns);
    return b;
}
