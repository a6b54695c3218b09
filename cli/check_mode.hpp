// `quicksort_bench check`: one screen that says whether this machine can give trustworthy numbers now.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "machine/readiness.hpp"

// The verdict lines as the console shows them, "ok  " or "warn", the topic, what was found and, for
// a warn, what to do.
void print_check(const std::vector<check_line>& lines, std::ostream& out);

// Reads the machine (a second's look at the load included), prints the verdicts and writes the
// JSON to `json_path` when one is given. Status 0 when all is ok, 1 when something warns.
int run_check(const std::string& json_path);
