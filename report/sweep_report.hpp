// What a CPU-count sweep prints on the console: a line per finished step, then how each strategy
// scales.
#pragma once

#include <array>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "common/format.hpp"
#include "records/derived.hpp"
#include "records/results.hpp"

// "Step 2/3 on 2 CPUs (0-1): medians sequential sort 812.41 ms, ..."
void print_step_summary(const sweep_step& step, std::size_t number, std::size_t total, std::ostream& out);

// For each strategy: a heading, then one row per step: CPUs, median, speedup, efficiency.
void print_scaling_tables(const sweep_results& sweep, std::ostream& out);

// One scaling row as text: CPUs, median in ms with its precision ("812.41 ±1.2%"), sorts per
// second over the phase's wall time ("4.93"), speedup ("1.95 [1.80, 2.10]"), efficiency ("97%");
// "n/a" for what is undefined. Every reporter of the table prints these same cells.
std::array<std::string, 5> scaling_cells(const scaling_point& point);

// What a strategy's speedups are of, as every scaling table says: "by throughput: ..." or "by the
// median: ...".
std::string scaling_measure(const strategy_scaling& strategy);

