// `quicksort_bench compare BASE.json NEW.json...`: is the difference between runs real?
#pragma once

#include <string>

#include "cli/options.hpp"

struct comparison;

// The gate: without --fail-on-slower always 0; with it 1 when a strategy got slower, else 3 when
// some could not be decided (inconclusive, too few runs) unless those are allowed, else 0.
int compare_exit_status(const comparison& c, bool fail_on_slower, bool allow_inconclusive);

// compare_exit_status, and when what was not decided fails the gate, one line on stderr naming it
// with `remedy`, what would decide it.
int gate_status(const comparison& c, bool fail_on_slower, bool allow_inconclusive, const std::string& remedy);

// Prints the comparison and writes its exports. Returns compare_exit_status (naming what was not
// decided when that fails the gate), or 2 after one error line when a file cannot be read or the
// runs do not measure the same work.
int run_compare(const compare_options& opts);
