#include "bench/memory_model.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <bit>

#include "common/format.hpp"
#include "machine/facts.hpp"

namespace {

// What the program holds before its first array: code, libraries, oneTBB and hwloc. Measured on
// small runs; it only matters for small arrays.
constexpr std::uint64_t baseline_bytes = 12u << 20;

std::uint64_t ceil_pow2(std::uint64_t n) { return n <= 1 ? 1 : std::bit_ceil(n); }

} // namespace

std::uint64_t chunked_sort_peak_elements(std::uint64_t size, std::uint64_t chunk) {
    if (size == 0) {
        return 0;
    }
    chunk = std::max<std::uint64_t>(1, std::min(chunk, size));
    // Splitting: the array, the runs built so far and the slice copied into a local.
    const std::uint64_t split = 2 * size + chunk;
    if (chunk >= size) {
        return split;
    }
    // The last merge: every run, the array merged so far (capacity from doubling) and the merge
    // array at its last growth, when the old and the new storage live together.
    const std::uint64_t last = size % chunk == 0 ? chunk : size % chunk;
    const std::uint64_t merged = ceil_pow2(size);
    const std::uint64_t merge = size + ceil_pow2(size - last) + merged + merged / 2;
    return std::max(split, merge);
}

memory_need predict_peak(const run_settings& opts, unsigned cpus) {
    const bench_config& s = opts.sizes;
    const std::uint64_t array = 4 * s.array_size;
    const std::uint64_t concurrent = std::max<std::uint64_t>(1, std::min<std::uint64_t>(cpus, s.run_count));
    // The pool's batch: every queued copy, the reused array and the copy being queued. Later
    // batches of a precision goal hold one array per worker.
    const std::uint64_t batch = std::max<std::uint64_t>(s.run_count, opts.precision ? cpus : 0);
    const std::uint64_t chunked = 4 * chunked_sort_peak_elements(s.array_size, static_cast<std::uint64_t>(s.chunk_size));
    const std::pair<std::uint64_t, const char*> phases[] = {
        {(batch + 2) * array, "the sequential sort's queued arrays"},
        {(concurrent + 1) * array, "the thread sort's concurrent arrays"},
        {chunked, "the parallel sort's runs and merge arrays"},
        {array + concurrent * chunked, "the parallel_for parallel sort's concurrent sorts"},
        {opts.reference ? 2 * array : 0, "the reference sorts"},
    };
    memory_need need;
    for (const auto& [bytes, phase] : phases) {
        if (bytes > need.peak_bytes) {
            need.peak_bytes = bytes;
            need.phase = phase;
        }
    }
    need.peak_bytes += baseline_bytes;
    return need;
}

memory_room memory_room_now() {
    memory_room room;
    const std::optional<meminfo> m = read_meminfo();
    room.available_bytes = m ? m->available + m->swap_free : UINT64_MAX / 2;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        room.address_space_bytes = limit.rlim_cur;
    }
    return room;
}

std::optional<std::string> memory_refusal(const memory_need& need, const memory_room& room) {
    if (need.peak_bytes > room.available_bytes) {
        return "this run needs about " + format_bytes(need.peak_bytes) + " of memory at its peak (" + need.phase +
               "), but only " + format_bytes(room.available_bytes) +
               " is available (memory and free swap); use smaller arrays or fewer runs (--size, --runs)";
    }
    // Thread stacks and allocator arenas take address space beyond the arrays too; a run that
    // is short of those fails cleanly later, one that cannot even hold its arrays is refused now.
    if (room.address_space_bytes && need.peak_bytes > *room.address_space_bytes) {
        return "this run needs about " + format_bytes(need.peak_bytes) + " of memory at its peak (" + need.phase +
               "), more than the process's address-space limit of " + format_bytes(*room.address_space_bytes) +
               " (ulimit -v)";
    }
    return std::nullopt;
}
