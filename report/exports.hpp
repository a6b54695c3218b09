// Reporters that turn the same result records into files people can keep and compare.
#pragma once

#include <iosfwd>
#include <string>

#include "report/comparison.hpp"
#include "report/results.hpp"

// The version every JSON export names as "format_version"; files written before the field existed
// are version 1. Raise it when a reader of an older version would misread a file.
inline constexpr int export_format_version = 3;

// JSON: a context object, one object per strategy (every duration, mean, median, min, max,
// standard deviation, coefficient of variation) and the speedups, printed and exact.
void write_json(const benchmark_results& results, std::ostream& out);

// CSV (RFC 4180): a header row, then one row per measured sort: strategy, process, run, nanoseconds.
void write_csv(const benchmark_results& results, std::ostream& out);

// Text from a record (a host name, a strategy's name, a label) as a Markdown table cell shows it.
std::string markdown_cell(const std::string& text);

// A Markdown table of the strategies in milliseconds, then the speedups as exact ratios.
void write_markdown(const benchmark_results& results, std::ostream& out);

// A self-contained SVG: a horizontal bar per strategy for its median, a whisker from min to max,
// every measured sort as a dot, the median written at the bar, an axis in milliseconds; with a
// breakdown, a second figure of stacked bars below it.
void write_svg_chart(const benchmark_results& results, std::ostream& out);

// The same four formats for a CPU-count sweep: JSON holds every step as a full record plus the
// scaling table and whether the sweep completed; CSV gains a leading `cpus` column (and a last
// row naming the failure when the sweep ended early); Markdown gets a scaling table per strategy;
// the chart draws speedup against CPUs, one line per strategy, with the ideal line.
void write_sweep_json(const sweep_results& sweep, std::ostream& out);
void write_sweep_csv(const sweep_results& sweep, std::ostream& out);
void write_sweep_markdown(const sweep_results& sweep, std::ostream& out);
void write_scaling_chart(const sweep_results& sweep, std::ostream& out);

// A compare's table for a pull-request comment, and all of it (both sides' durations included) as JSON.
void write_comparison_markdown(const comparison& c, std::ostream& out);
void write_comparison_json(const comparison& c, std::ostream& out);

// One self-contained HTML page (inline CSS and SVG, no script, nothing fetched) for a run, a
// sweep or a compare: a plain-language reading first, then the context, the tables, the charts
// and the warnings a careful reader needs.
void write_html(const benchmark_results& results, std::ostream& out);
void write_sweep_html(const sweep_results& sweep, std::ostream& out);
void write_comparison_html(const comparison& c, std::ostream& out);

// Google Benchmark's JSON: its context block, one "iteration" entry per measured sort and the
// mean, median, stddev and cv aggregates per strategy (per strategy and step in a sweep), so that
// the tools that read Google Benchmark's files read these. The benchmark clocks wall time only,
// so cpu_time repeats real_time.
void write_gbench(const sweep_results& runs, std::ostream& out);

// The readiness check's verdicts as JSON, with the facts they rest on.
void write_check_json(const std::vector<check_line>& lines, const environment_facts& facts, std::ostream& out);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);
