// What `ab` prints: its table on the console, a line per finished round for logs and pipes.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

#include "records/ab.hpp"

// The sides, what they differ in, the rule, and the table of verdicts over the rounds.
void print_ab(const ab_results& ab, std::ostream& out);

// "round 3/10, new first: new/base sequential sort 1.003, thread sort 0.998, ..."
std::string round_line(const ab_round& round, std::size_t number, unsigned planned);

// A row in one plain sentence: "new is 4.1% slower than base on parallel sort [2.3%, 6.0%]",
// "sequential sort: no change beyond ±1.2%", or for an undecided row how close it got.
std::string plain_reading(const strategy_comparison& s, double alpha);

// `ab --max-time`: the looks taken, their shares of alpha and how it ended, in one sentence that
// every format writes; empty for a fixed number of rounds.
std::string looks_sentence(const ab_results& ab);

// Rounds of pairs: how they ran and, per strategy, the two spreads of the log ratios (within a
// round's pairs, across the rounds), in one sentence that every format writes; empty for rounds
// of whole processes.
std::string pairs_sentence(const ab_results& ab);

// How each round ran both sides, as the first line of every format says it.
const char* rounds_design(const ab_results& ab);

// The smallest change these rounds could call: the threshold plus the interval's half-width, since
// a change is called only once its whole interval lies beyond the threshold. Absent without an interval.
std::optional<double> detectable_change(const strategy_comparison& s, double threshold);

// "/usr/bin/quicksort_bench --size 1000000 --chunk 2000": a side as a shell would run it.
std::string side_text(const ab_side& side);
