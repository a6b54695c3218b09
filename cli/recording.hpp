// Storing a finished run in the history the options name.
#pragma once

#include "cli/options.hpp"
#include "records/results.hpp"

// After a run's report and exports: stores `run` in the history. 0, or 1 with one line on stderr
// when it could not be stored; the report and the exports stand either way.
int record_run(const options& opts, const sweep_results& run);
