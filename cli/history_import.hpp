// Runs into a history: `history import` of our JSON exports and of the JSON Lines that
// `history export` writes.
#pragma once

#include "cli/options.hpp"

// Stores every run the files hold, once each file has been read and checked: a bad file stores
// nothing. Labels: --label, else each exported run's own.
int import_files(const history_options& h);
