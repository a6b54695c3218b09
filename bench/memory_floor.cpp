// The memory floor: streaming passes over an array of the run's size, on one CPU and on every CPU.
#include "bench/memory_floor.hpp"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include "bench/tsan_annotations.hpp"
#include "common/clock.hpp"
#include "sorting/sorting.hpp"

namespace {

// ThreadSanitizer sync addresses for the ordering parallel_for guarantees (see tsan_annotations.hpp).
char pass_start_sync;
char pass_end_sync;

// A pass that left the destination other than the source would time nothing real.
void check_pass(const value_array& from, const value_array& to) {
    if (from != to) {
        throw std::logic_error("the memory floor's pass did not copy the array");
    }
}

} // namespace

memory_floor measure_memory_floor(std::uint64_t size, unsigned passes) {
    memory_floor floor;
    floor.bytes_per_pass = 2 * sizeof(value_array::value_type) * size;
    value_array from(size);
    std::iota(from.begin(), from.end(), 0);
    value_array to(size, -1); // written now: every page faulted in before the first pass
    for (unsigned k = 0; k < passes; ++k) {
        std::fill(to.begin(), to.end(), -1);
        const duration_ns t0 = now_ns();
        std::copy(from.begin(), from.end(), to.begin());
        const duration_ns t1 = now_ns();
        check_pass(from, to);
        floor.one_cpu_passes_ns.push_back(t1 - t0);
    }
    for (unsigned k = 0; k < passes; ++k) {
        std::fill(to.begin(), to.end(), -1);
        QSB_HAPPENS_BEFORE(&pass_start_sync);
        const duration_ns t0 = now_ns();
        // One even slice per thread: a streaming pass gains nothing from stealing work.
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, from.size()),
            [&](const tbb::blocked_range<std::size_t>& r) {
                QSB_HAPPENS_AFTER(&pass_start_sync);
                const happens_before_on_exit slice_done{&pass_end_sync};
                std::copy(from.begin() + static_cast<std::ptrdiff_t>(r.begin()),
                          from.begin() + static_cast<std::ptrdiff_t>(r.end()),
                          to.begin() + static_cast<std::ptrdiff_t>(r.begin()));
            },
            tbb::static_partitioner());
        const duration_ns t1 = now_ns();
        QSB_HAPPENS_AFTER(&pass_end_sync);
        check_pass(from, to);
        floor.passes_ns.push_back(t1 - t0);
    }
    return floor;
}
