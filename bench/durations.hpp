// The measured durations, one list per strategy, alive for the whole process.
#pragma once

#include <mutex>

#include "common/clock.hpp"

extern duration_list sequential_times;   // appended under the sort pool's results_mutex
extern duration_list thread_times;       // appended under thread_times_mutex
extern duration_list parallel_times;     // touched by the main thread only
extern duration_list parallel_for_times; // appended under parallel_for_times_mutex

extern std::mutex thread_times_mutex;
extern std::mutex parallel_for_times_mutex;
