// The timed phases: each sort timed alone, its result checked after its interval.
#include "bench/phases.hpp"

#include <algorithm>
#include <functional>

#include "bench/generator.hpp"
#include "bench/timed_sort.hpp"
#include "bench/tsan_annotations.hpp"
#include "records/strategy.hpp"
#include "references/reference_sorts.hpp"

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

namespace {

// ThreadSanitizer sync addresses for the ordering parallel_for guarantees. They are not locals: a
// body must be able to name them without first reading the caller's stack.
char loop_start_sync;
char loop_end_sync;

// Each iteration's duration includes whatever the concurrent iterations cost it: that contention
// is what these phases measure.
template <typename Sort>
void run_parallel_loop(duration_list& times, std::mutex& times_mutex, const bench_config& sizes,
                       std::string_view strategy, const sort_listener& on_sorted, Sort sort, array_ids* ids) {
    QSB_HAPPENS_BEFORE(&loop_start_sync);
    const happens_after_on_exit loop_joined{&loop_end_sync};
    tbb::parallel_for(
        std::uint64_t{0}, sizes.run_count, std::uint64_t{1},
        [&](std::uint64_t run) {
            QSB_HAPPENS_AFTER(&loop_start_sync);
            const happens_before_on_exit body_done{&loop_end_sync};
            value_array local;
            generate_values(local, sizes.array_size, sizes.values);
            std::uint64_t id = 0;
            const duration_ns elapsed = time_checked_sort(local, sort, strategy, [run] { return run + 1; }, nullptr, &id);
            {
                const std::lock_guard lock(times_mutex);
                times.push_back(elapsed);
                if (ids != nullptr) {
                    ids->push_back(id);
                }
            }
            if (on_sorted) {
                on_sorted(strategy);
            }
        },
        tbb::auto_partitioner());
}

// One sort at a time on the calling thread, each on a fresh array generated into `data`.
// With `cpu_times`, the process's CPU time around each sort too, read outside the timed pair.
template <typename Sort>
void run_one_at_a_time(value_array& data, duration_list& times, const bench_config& sizes, std::string_view strategy,
                       const sort_listener& on_sorted, Sort sort, duration_list* cpu_times = nullptr,
                       array_ids* ids = nullptr) {
    for (std::uint64_t run = 1; run <= sizes.run_count; ++run) {
        generate_values(data, sizes.array_size, sizes.values);
        duration_ns cpu = 0;
        std::uint64_t id = 0;
        times.push_back(time_checked_sort(data, sort, strategy, [run] { return run; },
                                          cpu_times != nullptr ? &cpu : nullptr, &id));
        if (cpu_times != nullptr) {
            cpu_times->push_back(cpu);
        }
        if (ids != nullptr) {
            ids->push_back(id);
        }
        data.clear();
        if (on_sorted) {
            on_sorted(strategy);
        }
    }
}

// The chunked sort over a whole array of the benchmark's sizes.
auto chunked_sort(const bench_config& sizes) {
    const auto size = static_cast<std::int32_t>(sizes.array_size);
    const auto chunk = static_cast<std::int32_t>(sizes.chunk_size);
    return [size, chunk](value_array& values) { parallel_quicksort(values, 0, size - 1, chunk, size); };
}

} // namespace

void run_parallel_sorts(value_array& data, duration_list& parallel_times, const bench_config& sizes,
                        const sort_listener& on_sorted, duration_list* cpu_times, array_ids* ids) {
    run_one_at_a_time(data, parallel_times, sizes, name_of(strategy::parallel), on_sorted, chunked_sort(sizes), cpu_times,
                      ids);
}

void run_thread_sorts_alone(value_array& data, duration_list& times, const bench_config& sizes,
                            const sort_listener& on_sorted) {
    const auto high = static_cast<std::int32_t>(sizes.array_size) - 1;
    run_one_at_a_time(data, times, sizes, name_of(strategy::thread), on_sorted,
                      [high](value_array& values) { thread_quicksort(values, 0, high); });
}

void run_reference_sort(value_array& data, duration_list& times, strategy id, unsigned threads,
                        const bench_config& sizes, const sort_listener& on_sorted, duration_list* cpu_times,
                        array_ids* ids) {
    const whole_array_sort sort = make_reference_sort(id, threads);
    run_one_at_a_time(data, times, sizes, name_of(id), on_sorted, std::cref(sort), cpu_times, ids);
}

void run_thread_sorts(duration_list& thread_times, std::mutex& times_mutex, const bench_config& sizes,
                      const sort_listener& on_sorted, array_ids* ids) {
    const auto high = static_cast<std::int32_t>(sizes.array_size) - 1;
    run_parallel_loop(thread_times, times_mutex, sizes, name_of(strategy::thread), on_sorted,
                      [high](value_array& values) { thread_quicksort(values, 0, high); }, ids);
}

void run_parallel_for_sorts(duration_list& parallel_for_times, std::mutex& times_mutex, const bench_config& sizes,
                            const sort_listener& on_sorted, array_ids* ids) {
    run_parallel_loop(parallel_for_times, times_mutex, sizes, name_of(strategy::parallel_for), on_sorted,
                      chunked_sort(sizes), ids);
}

