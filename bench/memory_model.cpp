// A run's peak memory predicted from its sizes, and the refusal of a run that cannot fit.
#include "bench/memory_model.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "common/format.hpp"
#include "machine/facts.hpp"

namespace {

// What the program holds before its first array: code, libraries, oneTBB and hwloc, and per CPU
// its threads' stacks and arenas. Measured on small runs (12.2 MiB on two CPUs), with room above;
// it only matters for small arrays.
constexpr std::uint64_t baseline_bytes = 12u << 20;
constexpr std::uint64_t baseline_per_cpu_bytes = 1u << 20;

std::uint64_t ceil_pow2(std::uint64_t n) { return n <= 1 ? 1 : std::bit_ceil(n); }

// glibc raises its mmap threshold to each mmapped block freed, up to this.
constexpr std::uint64_t mmap_threshold_cap = 32u << 20;

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

std::uint64_t chunked_sort_retained_elements(std::uint64_t size, std::uint64_t chunk) {
    chunk = std::max<std::uint64_t>(1, std::min(chunk, size));
    const std::uint64_t runs = (size + chunk - 1) / chunk;
    if (runs < 2) {
        return 0;
    }
    // What a thread's arena keeps grows with the doublings of the merged array: measured on 1 to 4
    // million values in 100,000-value chunks, 0.65 (log2(runs) - 2.5) times that array's storage.
    // Once the merged array outgrows glibc's largest mmap threshold (32 MiB), the large blocks are
    // mapped and given back when freed, and what stays was measured to be small beside the peak.
    const std::uint64_t merged = ceil_pow2(size);
    if (4 * merged > mmap_threshold_cap) {
        return 0;
    }
    const double factor = 0.65 * std::max(0.0, std::log2(static_cast<double>(runs)) - 2.5);
    return static_cast<std::uint64_t>(std::ceil(factor * static_cast<double>(merged)));
}

std::uint64_t arena_slack_bytes(std::uint64_t size, std::uint64_t chunk, unsigned cpus, std::uint64_t concurrent) {
    if (size == 0) {
        return 0;
    }
    chunk = std::max<std::uint64_t>(1, std::min(chunk, size));
    const std::uint64_t slice_bytes = 4 * chunk;
    if (slice_bytes > mmap_threshold_cap) {
        return 0; // mapped, and given back when freed
    }
    const std::uint64_t tasks = (size + chunk - 1) / chunk * concurrent;
    const std::uint64_t arenas = std::min<std::uint64_t>(8ull * std::max(1u, cpus), tasks);
    return arenas * 3 * slice_bytes;
}

memory_need predict_peak(const run_settings& opts, unsigned cpus) {
    const bench_config& s = opts.sizes;
    const std::uint64_t array = 4 * s.array_size;
    const std::uint64_t concurrent = std::max<std::uint64_t>(1, std::min<std::uint64_t>(cpus, s.run_count));
    // The pool's batch: every queued copy and the reused array, and a copy per worker taken before
    // its task leaves the queue (or the copy being queued). Later batches of a precision goal hold
    // one array per worker.
    const std::uint64_t batch = std::max<std::uint64_t>(s.run_count, opts.precision ? cpus : 0);
    const std::uint64_t workers = std::max<std::uint64_t>(1, std::min<std::uint64_t>(cpus, batch));
    const std::uint64_t chunked = 4 * (chunked_sort_peak_elements(s.array_size, static_cast<std::uint64_t>(s.chunk_size)) +
                                       chunked_sort_retained_elements(s.array_size, static_cast<std::uint64_t>(s.chunk_size)));
    const std::pair<std::uint64_t, const char*> phases[] = {
        {(batch + 1 + workers) * array, "the sequential sort's queued arrays"},
        {(concurrent + 1) * array, "the thread sort's concurrent arrays"},
        {chunked, "the parallel sort's runs and merge arrays"},
        {array + concurrent * chunked, "the parallel_for parallel sort's concurrent sorts"},
        // A reference sort's buffer beside its array (the parallel std::sort's, sample_sort's second
        // array), on top of what the arenas keep of the concurrent chunked sorts before it; the
        // memory floor's two arrays come after the phases' array is given back, within the same.
        {opts.reference ? 2 * array + concurrent * chunked : 0, "the reference sorts"},
    };
    memory_need need;
    for (const auto& [bytes, phase] : phases) {
        if (bytes > need.peak_bytes) {
            need.peak_bytes = bytes;
            need.phase = phase;
        }
    }
    need.peak_bytes += baseline_bytes + baseline_per_cpu_bytes * std::max(1u, cpus) + arena_slack_bytes(s.array_size, static_cast<std::uint64_t>(s.chunk_size), cpus,
                                                          concurrent);
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
