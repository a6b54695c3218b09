// Reporters that turn the same result records into files people can keep and compare.
#pragma once

#include <array>
#include <iosfwd>
#include <string>

#include "records/ab.hpp"
#include "records/comparison.hpp"
#include "records/record_json.hpp"
#include "records/results.hpp"
#include "report/trend_report.hpp"

// Files to write after the report; an empty path means none, "-" standard output.
struct export_paths {
    std::string json;
    std::string csv;
    std::string markdown;
    std::string chart;
    std::string gbench; // Google Benchmark's JSON format
    std::string html;
    bool to_stdout() const {
        return json == "-" || csv == "-" || markdown == "-" || chart == "-" || gbench == "-" || html == "-";
    }
};

// One export format: its option and, for each kind of result, its writer (null where it has none).
struct exporter {
    const char* option;
    std::string export_paths::*path;
    void (*run)(const benchmark_results&, std::ostream&);
    void (*sweep)(const sweep_results&, std::ostream&);
    void (*comparison)(const comparison&, std::ostream&);
    void (*trend)(const trend_report&, std::ostream&);
    void (*ab)(const ab_results&, std::ostream&);
};
extern const std::array<exporter, 6> exporters;

// Writes every export `paths` asks for, each whole or not at all; throws std::runtime_error on the
// first that fails. A sweep without a completed step has no Google Benchmark file.
void write_exports(const export_paths& paths, const benchmark_results& run);
void write_exports(const export_paths& paths, const sweep_results& sweep);
void write_exports(const export_paths& paths, const comparison& c);
void write_exports(const export_paths& paths, const trend_report& trend);
void write_exports(const export_paths& paths, const ab_results& ab);

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
void write_sweep_csv(const sweep_results& sweep, std::ostream& out);
void write_sweep_markdown(const sweep_results& sweep, std::ostream& out);
void write_scaling_chart(const sweep_results& sweep, std::ostream& out);

// A compare's table for a pull-request comment, and all of it (both sides' durations included) as JSON.
void write_comparison_markdown(const comparison& c, std::ostream& out);
void write_comparison_json(const comparison& c, std::ostream& out);

// `ab`: every round (its order and both sides' records as they wrote them) and the verdicts as
// JSON, the table as Markdown, and a page that plots each round's ratio per strategy.
void write_ab_json(const ab_results& ab, std::ostream& out);
void write_ab_markdown(const ab_results& ab, std::ostream& out);
void write_ab_html(const ab_results& ab, std::ostream& out);

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
void write_run_gbench(const benchmark_results& run, std::ostream& out);

// The readiness check's verdicts as JSON, with the facts they rest on.
void write_check_json(const std::vector<check_line>& lines, const environment_facts& facts, std::ostream& out);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);
