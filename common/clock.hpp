// The steady clock every timing and every reading of the machine uses.
#pragma once

#include <chrono>

#include "common/duration.hpp"

// Monotonic: a measured interval can never be negative or jump with the wall clock.
inline duration_ns now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
