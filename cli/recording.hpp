// Storing a finished run in the history the options name, checked before the run starts.
#pragma once

#include "cli/options.hpp"
#include "records/results.hpp"

// A password on the command line is visible to every user (ps): said once, on stderr.
void warn_of_password(const std::string& location);

// Before any sort: with --record, the history opened for writing (created, or upgraded, when it
// must be), so that a history that cannot take the run refuses it now. 0, or 2 with one line.
int check_history(const options& opts);

// After a run's report and exports: stores `run` in the history. 0, or 1 with one line on stderr
// when it could not be stored; the report and the exports stand either way, and the run's record
// is kept as a file, with the `history import` line that stores it later.
int record_run(const options& opts, const sweep_results& run);
