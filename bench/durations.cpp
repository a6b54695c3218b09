// The measured durations, one list per strategy.
#include "bench/durations.hpp"

duration_list sequential_times;
duration_list thread_times;
duration_list parallel_times;
duration_list parallel_for_times;

std::mutex thread_times_mutex;
std::mutex parallel_for_times_mutex;

void clear_duration_lists() {
    sequential_times.clear();
    thread_times.clear();
    parallel_times.clear();
    parallel_for_times.clear();
}
