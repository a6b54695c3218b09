// How much memory a run needs at its peak, predicted from its sizes before anything is allocated,
// so that a run that cannot fit is refused at once instead of swapping or dying minutes in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bench/config.hpp"

struct memory_need {
    std::uint64_t peak_bytes = 0;
    std::string phase; // where the peak falls
};

// The peak resident memory of a run of `opts` on `cpus` CPUs, as an upper bound: the largest of its
// phases (the pool's queued copies and its workers' copies, the concurrent loops' arrays, the
// chunked sort's copies and merge arrays with what the allocator keeps of them, the reference
// sorts beside what the arenas kept), on top of what the program holds before any array.
memory_need predict_peak(const run_settings& opts, unsigned cpus);

// The peak of a chunked sort of `size` elements in `chunk`-element slices, in elements: its runs,
// the array it merges into and the merge array as it grows by doubling.
std::uint64_t chunked_sort_peak_elements(std::uint64_t size, std::uint64_t chunk);

// What the allocator keeps of a chunked sort's freed merge arrays beyond its live peak, in elements:
// a thread's arena does not give back the storage the merged array outgrew while it stays below
// glibc's largest mmap threshold. An empirical bound, fitted to measured peaks.
std::uint64_t chunked_sort_retained_elements(std::uint64_t size, std::uint64_t chunk);

// What the allocator's per-thread arenas keep of the chunked sorts' slices, in bytes, beyond every
// phase's own peak: each slice is sorted on a thread of its own, glibc gives threads up to eight
// arenas per CPU, and once its mmap threshold has risen past a slice an arena keeps the slices it
// freed. Three slices per arena in use, fitted to measured peaks; none for slices over 32 MiB.
std::uint64_t arena_slack_bytes(std::uint64_t size, std::uint64_t chunk, unsigned cpus, std::uint64_t concurrent);

// What the process can have: available memory and free swap, and its address-space limit.
struct memory_room {
    std::uint64_t available_bytes = 0;
    std::optional<std::uint64_t> address_space_bytes; // RLIMIT_AS, when set
};
memory_room memory_room_now();

// One line naming the need and what is available when `need` does not fit `room`.
std::optional<std::string> memory_refusal(const memory_need& need, const memory_room& room);
