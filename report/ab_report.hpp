// What `ab` prints: its table on the console, a line per finished round for logs and pipes.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "records/ab.hpp"

// The sides, what they differ in, the rule, and the table of verdicts over the rounds.
void print_ab(const ab_results& ab, std::ostream& out);

// "round 3/10, new first: new/base sequential sort 1.003, thread sort 0.998, ..."
std::string round_line(const ab_round& round, std::size_t number, unsigned planned);

// "/usr/bin/quicksort_bench --size 1000000 --chunk 2000": a side as a shell would run it.
std::string side_text(const ab_side& side);
