// What a run measures: its sizes, its value kind, its precision goal and what it adds to the timed
// phases. The command line produces these; nothing here knows of it.
#pragma once

#include <cstdint>
#include <optional>

#include "bench/generator.hpp"
#include "records/results.hpp"

struct bench_config {
    std::uint64_t array_size = 10'000'000; // elements in every sorted array
    std::int64_t chunk_size = 100'000;     // slice length of the chunked parallel sort
    std::uint64_t run_count = 10;          // timed sorts per strategy
    value_kind values = value_kind::classic;
};

// Every index of an array must fit a signed 32-bit index, and the chunked sort takes the size and
// the chunk as signed 32-bit values.
inline constexpr std::uint64_t max_array_size = 2'147'483'647;
inline constexpr std::int64_t max_chunk_size = 2'147'483'647;
// The progress display counts in signed 32 bits; far fewer runs already give stable statistics.
inline constexpr std::uint64_t max_run_count = max_runs_allowed;

struct run_settings {
    bench_config sizes;                      // with a precision goal, run_count is the minimum
    std::optional<precision_goal> precision;
    bool reference = false;   // also time std::sort and parallel std::sort
    bool breakdown = false;   // after the timed phases, instrumented sorts show where the time goes
    bool counters = false;    // open the kernel's performance counters: they cost the timed sorts something
};
