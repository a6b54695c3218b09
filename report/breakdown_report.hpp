// The "Breakdown:" block that follows the report when --breakdown is given.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "report/results.hpp"

void print_breakdown(const breakdown_results& breakdown, std::ostream& out);

// One plain sentence per strategy naming its dominant cost with its share, in the report's order
// (sequential, thread, parallel, parallel_for).
std::vector<std::string> breakdown_sentences(const breakdown_results& breakdown);

// `part` as a whole-number percentage of `whole` ("78%"); "n/a" when `whole` is 0.
std::string share_text(double part, double whole);
