// The `history` actions over a stored history: list, trend, compare, import and export.
#pragma once

#include "cli/options.hpp"

// Runs the action: 0, 2 for a refused file or request (one line), 1 when a write failed.
int run_history(const history_options& h);
