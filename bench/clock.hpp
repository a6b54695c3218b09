// The benchmark's clock and its duration records.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

// Signed nanoseconds between two readings of the steady clock.
using duration_ns = std::int64_t;
using duration_list = std::vector<duration_ns>;

// Monotonic: a measured interval can never be negative or jump with the wall clock.
inline duration_ns now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
