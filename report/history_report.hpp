// A history's stored runs as `history list` shows them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "records/stored.hpp"

// The file read, a heading, one line per run (id, time, machine, kind, size, sorts, processes,
// values, CPUs, label), then each machine listed with its CPU model.
void print_history_list(const std::vector<stored_run>& runs, const std::string& file, std::ostream& out);

// One line per machine: name, host, CPU model, logical CPUs, memory, the kernel and compiler of its
// newest run, its runs, its first and last run.
void print_machines(const std::vector<stored_machine>& machines, std::ostream& out);
