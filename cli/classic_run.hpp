// The classic run: the timed phases (and the reference sorts when asked), then the report, the
// exports and the key wait.
#pragma once

#include "cli/options.hpp"

// Measures, prints the report, writes the exports and waits for a key on a terminal.
int run_classic(const options& opts);
