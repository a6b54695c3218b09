// The results report as the console shows it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include <vector>

#include "records/derived.hpp"
#include "records/results.hpp"
#include "report/stats.hpp"

// For each entry in key order: "<key>:" then "<value> nanoseconds.".
void print_stats(stats_map stats, std::ostream& out);

// The whole report of `results`, from "Results:" to the five empty lines after the last speedup,
// each strategy's figures its record's summary. Reference sorts, when there are any, get a block
// of their own after the speedups. `runs` replaces the line "Each sort ran <run_count> times" when
// given.
void print_report(const benchmark_results& results, std::ostream& out, const std::string& runs = "");

// "Each sort ran 10 times"; when the strategies ran different counts (a precision goal),
// "Each sort ran 6 to 40 times (sequential sort 12, thread sort 40, ...)".
std::string runs_line(const benchmark_results& results);

// With a precision goal: per strategy its sorts, the precision of its median and whether it
// reached the target, with the runs that would likely reach it when not. A run of several
// processes: per strategy the median of its processes' medians and their interval, always.
void print_precision(const benchmark_results& results, std::ostream& out);

// The report, then the precision block, the breakdown when it was measured and the resources when
// asked for: all a finished run prints on the console.
void print_run(const benchmark_results& results, bool resources, std::ostream& out);
