// The classic run: every phase once in this process, then the report and the exports.
#pragma once

#include "bench/console.hpp"
#include "cli/options.hpp"
#include "report/console_report.hpp"
#include "report/results.hpp"

int run_classic(const options& opts);

// A finished run on the console (the report, the precision block, breakdown and resources), its
// advice and warnings on stderr, then its exports and, on a terminal, the key press.
int report_run(const options& opts, const console& con, const benchmark_results& results, const report_stats& stats);
