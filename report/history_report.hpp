// A history's stored runs as `history list` shows them.
#pragma once

#include <iosfwd>
#include <vector>

#include "records/stored.hpp"

// A heading, then one line per run: id, time, machine, kind, size, sorts, processes, values, CPUs, label.
void print_history_list(const std::vector<stored_run>& runs, std::ostream& out);
