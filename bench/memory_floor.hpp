// The memory floor: how long one streaming pass over an array of the run's size takes, reading
// every element and writing it to a second array, on one CPU and on every CPU of the run. No sort
// of that array on those CPUs can be faster: it reads and writes every element at least once.
#pragma once

#include <cstdint>

#include "records/results.hpp"

// `passes` timed passes each way, outside every sort: on the calling thread, then split evenly
// over the parallel loop's threads. The destination is written once before the first timed pass,
// so that no pass pays for faulting in its pages; every pass is checked after its interval.
memory_floor measure_memory_floor(std::uint64_t size, unsigned passes = 5);
