// Runs into a history: `history import` of our JSON exports and of the JSON Lines that
// `history export` writes.
#pragma once

#include "cli/options.hpp"
#include "history/store.hpp"

// Stores every run the files hold, once each file has been read and checked: a bad file stores
// nothing. Labels: --label, else each exported run's own.
int import_files(const history_options& h);

// Copies every run of the local history h.file into h.inputs[0], one transaction per run, and says
// how many were new: pushing twice stores each run once.
int push_runs(const history_options& h);

// "run 12 (gcc-13)": the stored run a duplicate already is.
std::string stored_as(const record_outcome& stored);
