// `quicksort_bench compare BASE.json NEW.json`: is the difference between two runs real?
#pragma once

#include "bench/options.hpp"

// Prints the comparison and writes its exports. Returns 0, or 1 with --fail-on-slower when a
// strategy got slower; 2 after one error line when a file cannot be read or the runs do not
// measure the same work.
int run_compare(const compare_options& opts);
