// The classic run: the four timed phases (and the reference sorts when asked), then the report.
#pragma once

#include "bench/console.hpp"
#include "cli/options.hpp"
#include "bench/phases.hpp"
#include "report/console_report.hpp"
#include "report/results.hpp"

struct measured_run {
    benchmark_results results; // durations in completion order, for the reporters
    report_stats stats;        // the console report's figures
};

// Runs every timed phase once, in order, with `workers` sequential-sort workers. Phase progress
// goes to `con`; `on_sorted` hears of every sort. Throws on any failure (a wrong result included).
measured_run measure(const options& opts, const console& con, const sort_listener& on_sorted = {},
                     unsigned workers = usable_cpu_count());

// Measures, prints the report, writes the exports and waits for a key on a terminal.
int run_classic(const options& opts);
