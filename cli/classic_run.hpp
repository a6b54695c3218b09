// The benchmark run: the mode the options choose (one process, several, a sweep, or a measuring
// process of one of those), refused at once when it cannot fit in memory; and the end every run of
// one or more processes shares.
#pragma once

#include "bench/console.hpp"
#include "cli/options.hpp"
#include "records/results.hpp"

int run_benchmark(const options& opts);

// The classic run: every phase once in this process, then the end below.
int run_classic(const options& opts);

// A finished run on the console (the report, the precision block, breakdown and resources), its
// advice and warnings on stderr, then its exports, its record in the history and, on a terminal,
// the key press.
int finish_run(const options& opts, const console& con, const benchmark_results& results);
