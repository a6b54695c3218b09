#include "bench/phases.hpp"

#include "bench/generator.hpp"
#include "bench/verify.hpp"

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
