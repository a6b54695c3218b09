// The measured durations, one list per strategy.
#include "bench/durations.hpp"

duration_list sequential_times;
duration_list thread_times;
duration_list parallel_times;
duration_list parallel_for_times;

std::mutex thread_times_mutex;
std::mutex parallel_for_times_mutex;
