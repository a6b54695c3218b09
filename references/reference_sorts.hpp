// The reference sorts: what someone who needs a fast sort today would pick (the standard
// library's, oneTBB's, Boost.Sort's and IPS4o's), each as a call that sorts a whole array, so that
// the timed-sort helper times them exactly as it times the four strategies.
#pragma once

#include <functional>

#include "records/strategy.hpp"
#include "sorting/sorting.hpp"

// Sorts a whole array ascending.
using whole_array_sort = std::function<void(value_array&)>;

// The sort of reference `id`; a parallel one on `threads` threads (oneTBB's and the parallel
// std::sort on the arena the run set up, which holds as many). Whatever it needs before it can
// sort (IPS4o's thread pool) is made here, outside every timed interval, and ends with the last
// copy of the function. Throws std::invalid_argument for a strategy that is not a reference.
whole_array_sort make_reference_sort(strategy id, unsigned threads);
