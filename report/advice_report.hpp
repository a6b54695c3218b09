// What a finished run says on stderr beside its report.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "records/results.hpp"

// A run of several processes: per strategy the variation within and between processes and the
// design they suggest, one line each.
std::vector<std::string> design_advice(const benchmark_results& results);

// "advice: <strategy>: ..." for every strategy's warnings, the design lines, then "warning: ..."
// for what changed on the machine during the run.
void print_advice(const benchmark_results& results, std::ostream& err);

// A sweep step's warnings, named: what changed on the machine and the precision targets it missed.
void print_step_warnings(const benchmark_results& step, const std::string& name, std::ostream& err);
