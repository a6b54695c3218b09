// The measured quicksorts: sequential, thread, chunked parallel and the chunked sort in a parallel loop.
#include "sorting/sorting.hpp"

template std::int32_t partition<no_observer>(value_array&, std::int32_t, std::int32_t);
template void quicksort<no_observer>(value_array&, std::int32_t, std::int32_t);
template void thread_quicksort<no_observer>(value_array&, std::int32_t, std::int32_t);
template void parallel_quicksort<no_observer>(value_array&, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
