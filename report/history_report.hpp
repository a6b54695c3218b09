// A history's stored runs as `history list` shows them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "records/stored.hpp"

// The file read, a heading, one line per run (id, time, machine, kind, size, sorts, processes,
// values, CPUs, label), then each machine listed with its CPU model.
void print_history_list(const std::vector<stored_run>& runs, const std::string& file, std::ostream& out);
