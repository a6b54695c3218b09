#include "bench/phases.hpp"

#include "bench/generator.hpp"
#include "bench/verify.hpp"

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

namespace {

// Each iteration's duration includes whatever the concurrent iterations cost it: that contention
// is what these phases measure.
template <typename Sort>
void run_parallel_loop(duration_list& times, std::mutex& times_mutex, const bench_config& sizes,
                       const char* strategy, Sort sort) {
    tbb::parallel_for(
        std::uint64_t{0}, sizes.run_count, std::uint64_t{1},
        [&](std::uint64_t run) {
            value_array local;
            generate_values(local, sizes.array_size);
            const array_fingerprint before = fingerprint_of(local);

            const duration_ns t0 = now_ns();
            sort(local);
            const duration_ns t1 = now_ns();

            verify_sorted(local, before, strategy, run + 1);
            const std::lock_guard lock(times_mutex);
            times.push_back(t1 - t0);
        },
        tbb::auto_partitioner());
}

} // namespace

void run_thread_sorts(duration_list& thread_times, std::mutex& times_mutex, const bench_config& sizes) {
    const auto high = static_cast<std::int32_t>(sizes.array_size) - 1;
    run_parallel_loop(thread_times, times_mutex, sizes, thread_sort_name,
                      [high](value_array& values) { thread_quicksort(values, 0, high); });
}

void run_parallel_for_sorts(duration_list& parallel_for_times, std::mutex& times_mutex, const bench_config& sizes) {
    const auto size = static_cast<std::int32_t>(sizes.array_size);
    const auto chunk = static_cast<std::int32_t>(sizes.chunk_size);
    run_parallel_loop(parallel_for_times, times_mutex, sizes, parallel_for_sort_name,
                      [size, chunk](value_array& values) { parallel_quicksort(values, 0, size - 1, chunk, size); });
}

void run_parallel_sorts(value_array& data, duration_list& parallel_times, const bench_config& sizes) {
    const auto size = static_cast<std::int32_t>(sizes.array_size);
    const auto chunk = static_cast<std::int32_t>(sizes.chunk_size);
    for (std::uint64_t run = 1; run <= sizes.run_count; ++run) {
        generate_values(data, sizes.array_size);
        const array_fingerprint before = fingerprint_of(data);

        const duration_ns t0 = now_ns();
        parallel_quicksort(data, 0, size - 1, chunk, size);
        const duration_ns t1 = now_ns();

        verify_sorted(data, before, parallel_sort_name, run);
        parallel_times.push_back(t1 - t0);
        data.clear();
    }
}
