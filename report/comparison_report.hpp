// The console's table of a comparison, and the cells every reporter of a comparison shares.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "records/comparison.hpp"

// The console table (the differences, then per step a row per strategy and new run) and the cells
// every reporter of a comparison shares.
void print_comparison(const comparison& c, std::ostream& out);

// The gate's rule as the console says it: "Slower or faster: p < 0.05 and the whole interval beyond
// 2%; equivalent: the whole interval within ±2%."
std::string gate_rule(const comparison& c);

// A step's table: its heading, then a row per strategy (and new run, numbered when `several`).
void print_comparison_rows(const step_comparison& step, bool several, const std::optional<double>& drift,
                           std::ostream& out);
// The same as a Markdown table and as an HTML table.
void comparison_rows_markdown(const step_comparison& step, bool several, const std::optional<double>& drift,
                              std::ostream& out);
void comparison_rows_html(const step_comparison& step, bool several, const std::optional<double>& drift,
                          std::ostream& out);

// "100.40 ±0.4%", or "100.40" without a precision: a median in milliseconds.
std::string median_cell(std::int64_t median, const std::optional<double>& precision);

// "+4.1% [+2.3%, +6.0%]", "+4.1%" without an interval, "n/a" without an estimate.
std::string shift_text(const strategy_comparison& s);

// "+4.1%", "-12.0%", "n/a"; "0.0312", "<0.0001", "n/a".
std::string change_text(const std::optional<double>& change);
std::string p_value_text(const std::optional<double>& p);

// The p-value that decides a row, as every table shows it: Holm's adjusted one once the rows are
// judged as a family, else the row's own.
std::string decisive_p_text(const strategy_comparison& s);

// " The p-values are Holm's, adjusted for the 4 tests made, ...", or nothing with one test.
std::string holm_note(const comparison& c);

// The verdict, with the runs that would likely decide an inconclusive one, the processes that would
// decide one of too few, a weak test marked, and the rule that judged it.
std::string verdict_cell(const strategy_comparison& s);

// "process medians, 6 vs 6", "sorts, drift ±10%", "sorts": the rule that judged a row.
std::string rule_text(const strategy_comparison& s, const std::optional<double>& drift);
