// `quicksort_bench check`: one screen that says whether this machine can give trustworthy numbers now.
#pragma once

#include <string>


// Reads the machine (a second's look at the load included), prints the verdicts and writes the
// JSON to `json_path` when one is given. Status 0 when all is ok, 1 when something warns.
int run_check(const std::string& json_path);
