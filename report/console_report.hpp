// The results report as the console shows it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include <vector>

#include "report/results.hpp"
#include "report/stats.hpp"

// The four statistics the report compares; the parallel sort's figures divide every speedup.
struct report_stats {
    stats_map sequential;
    stats_map thread;
    stats_map parallel;
    stats_map parallel_for;
};

// For each entry in key order: "<key>:" then "<value> nanoseconds.".
void print_stats(stats_map stats, std::ostream& out);

// The whole report, from "Results:" to the five empty lines after the last speedup. Reference
// sorts, when there are any, get a block of their own after the speedups. `runs` replaces the
// line "Each sort ran <run_count> times" when given.
void print_report(const report_stats& stats, std::uint64_t run_count, std::ostream& out,
                  const std::vector<strategy_result>& references = {}, const std::string& runs = "");

// "Each sort ran 10 times"; when the strategies ran different counts (a precision goal),
// "Each sort ran 6 to 40 times (sequential sort 12, thread sort 40, ...)".
std::string runs_line(const benchmark_results& results);

// With a precision goal: per strategy its sorts, the precision of its median and whether it
// reached the target, with the runs that would likely reach it when not. A run of several
// processes: per strategy the median of its processes' medians and their interval, always.
void print_precision(const benchmark_results& results, std::ostream& out);

// A run of several processes: per strategy the variation within and between processes and the
// design they suggest, one line each, for stderr after the report.
std::vector<std::string> design_advice(const benchmark_results& results);
