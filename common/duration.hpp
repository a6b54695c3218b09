// Measured durations, shared by the harness that takes them and the reports that format them.
#pragma once

#include <cstdint>
#include <vector>

// Signed nanoseconds between two readings of the steady clock.
using duration_ns = std::int64_t;
using duration_list = std::vector<duration_ns>;
