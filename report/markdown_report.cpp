// The Markdown export of a run, a sweep, a comparison and `ab`.
#include <algorithm>
#include <cstdio>
#include <ostream>

#include "common/format.hpp"
#include "common/text.hpp"
#include "report/ab_report.hpp"
#include "report/comparison_report.hpp"
#include "report/advice_report.hpp"
#include "report/exports.hpp"
#include "report/resources_report.hpp"
#include "report/breakdown_report.hpp"
#include "report/console_report.hpp"
#include "report/sweep_report.hpp"

// Text from a record (a host name, a strategy's name, a file name) as Markdown shows it: a pipe
// would split a table cell, and markup or HTML would be rendered, so both are escaped; a control
// character, a line break included, is written out.
std::string markdown_cell(const std::string& text) {
    std::string escaped;
    for (const char ch : printable(text)) {
        switch (ch) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '|':
        case '\\':
        case '`':
        case '*':
        case '[':
        case ']':
            escaped += '\\';
            escaped += ch;
            break;
        default: escaped += ch;
        }
    }
    return escaped;
}

namespace {


// A file name as code: shown as it is, inside a fence of more backticks than it holds in a row.
std::string code_span(const std::string& text) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (const char ch : text) {
        run = ch == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const std::string fence(longest + 1, '`');
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    const bool pad = !shown.empty() && (shown.front() == '`' || shown.back() == '`');
    return fence + (pad ? " " + shown + " " : shown) + fence;
}

// What each phase used of the machine.
void resources_markdown(const std::vector<phase_resources>& resources, std::ostream& out) {
    if (resources.empty()) {
        return;
    }
    out << "\nWhat each phase used of the machine:\n\n|";
    const auto headers = resource_headers();
    for (const auto& h : headers) {
        out << " " << h << " |";
    }
    out << "\n|";
    for (std::size_t k = 0; k < headers.size(); ++k) {
        out << (k == 0 ? " --- |" : " ---: |");
    }
    out << "\n";
    for (const auto& row : resource_rows(resources)) {
        out << "|";
        for (const auto& c : row) {
            out << " " << markdown_cell(c) << " |";
        }
        out << "\n";
    }
    out << "\n" << counters_scope << "\n";
    for (const auto& sentence : unavailable_counters(resources)) {
        out << "\n" << markdown_cell(sentence) << "\n";
    }
}

// The stages of each strategy's instrumented sort, and the sentence naming its dominant cost.
void breakdown_markdown(const breakdown_results& b, std::ostream& out) {
    out << "\nWhere the time goes (the median of " << b.runs << " instrumented sorts):\n\n";
    out << "| strategy | stage | ms | share |\n";
    out << "| --- | --- | ---: | ---: |\n";
    for (const auto& strategy : stages_of(b)) {
        duration_ns whole = 0;
        for (const auto& stage : strategy.stages) {
            whole += stage.ns;
        }
        for (const auto& stage : strategy.stages) {
            out << "| " << markdown_cell(strategy.name) << " | " << stage.stage << " | " << format_ms(stage.ns) << " | "
                << share_text(static_cast<double>(stage.ns), static_cast<double>(whole)) << " |\n";
        }
    }
    out << "\n";
    for (const auto& sentence : breakdown_sentences(b)) {
        out << "- " << markdown_cell(sentence) << "\n";
    }
}

} // namespace

void write_markdown(const benchmark_results& results, std::ostream& out) {
    const run_context& c = results.context;
    out << "Sorting " << c.array_size << " " << c.values << " values, " << c.run_count
        << " runs per strategy, chunks of " << c.chunk_size << ", on " << markdown_cell(c.cpu_model) << " (" << c.logical_cpus
        << " logical CPUs).\n\n";

    out << "| strategy | runs | mean (ms) | median | min (ms) | max (ms) | cv |\n";
    out << "| --- | ---: | ---: | ---: | ---: | ---: | ---: |\n";
    for (const auto& s : results.strategies) {
        const std::optional<double> cv = s.summary.cv ? std::optional(100 * *s.summary.cv) : std::nullopt;
        const duration_summary shown = headline(s);
        const std::string precision = precision_text(shown);
        out << "| " << markdown_cell(s.name) << " | " << sorts_text(s) << " | " << format_ms(s.summary.mean) << " | "
            << format_ms(shown.median) << " ms" << (precision.empty() ? "" : " " + precision) << " | "
            << format_ms(s.summary.min) << " | " << format_ms(s.summary.max) << " | "
            << fixed_or_na(cv, 1) << (cv ? "%" : "") << " |\n";
    }

    out << "\nMedians with \u00b1 the larger distance to an end of their distribution-free 95% interval";
    out << (c.processes > 1 ? "; over " + std::to_string(c.processes) +
                                  " processes, the median of the processes' medians and the interval of those.\n"
                            : ".\n");
    const std::vector<std::string> advice = design_advice(results);
    for (const auto& line : advice) {
        out << "\n- " << markdown_cell(line);
    }
    out << (advice.empty() ? "" : "\n");
    out << "\n| speedup of the parallel sort | mean | median |\n";
    out << "| --- | ---: | ---: |\n";
    for (const auto& s : results.speedups) {
        out << "| " << markdown_cell(s.name) << " | " << format_ratio(s.mean_ratio) << " | " << format_ratio(s.median_ratio)
            << " |\n";
    }

    bool header_written = false;
    for (const auto& s : results.strategies) {
        if (!s.reference) {
            continue;
        }
        if (!header_written) {
            out << "\n| reference sort | times faster than the parallel sort (median) |\n";
            out << "| --- | ---: |\n";
            header_written = true;
        }
        out << "| " << markdown_cell(s.name) << " | " << format_ratio(s.times_faster_than_parallel) << " |\n";
    }

    if (results.breakdown) {
        breakdown_markdown(*results.breakdown, out);
    }
    resources_markdown(results.resources, out);
    for (const auto& warning : results.environment_warnings) {
        out << "\n**Warning:** " << markdown_cell(warning) << "\n";
    }
}

void write_sweep_markdown(const sweep_results& sweep, std::ostream& out) {
    std::string counts;
    for (const unsigned n : sweep.planned_counts) {
        counts += (counts.empty() ? "" : ", ") + std::to_string(n);
    }
    out << "CPU-count sweep over " << counts << " CPUs";
    if (!sweep.steps.empty()) {
        const run_context& c = sweep.steps.front().results.context;
        out << ": sorting " << c.array_size << " values, " << c.run_count << " runs per strategy, chunks of "
            << c.chunk_size << ", " << c.values << " values, on " << markdown_cell(c.cpu_model);
    }
    out << ".\n";
    if (!sweep.complete()) {
        out << "\n**Incomplete:** " << sweep.steps.size() << " of " << sweep.planned_counts.size()
            << " steps completed; " << markdown_cell(sweep.failure.empty() ? "the sweep ended early" : sweep.failure) << ".\n";
    }
    for (const auto& strategy : scaling_of(sweep)) {
        out << "\n" << markdown_cell(strategy.name) << ", " << scaling_measure(strategy) << ":\n";
        out << "\n| " << markdown_cell(strategy.name) << ": CPUs | median (ms) | sorts/s | speedup | efficiency |\n";
        out << "| ---: | ---: | ---: | ---: | ---: |\n";
        for (const auto& point : strategy.points) {
            const auto cells = scaling_cells(point);
            out << "| " << cells[0] << " | " << cells[1] << " | " << cells[2] << " | " << cells[3] << " | " << cells[4]
                << " |\n";
        }
    }
    for (const auto& step : sweep.steps) {
        if (step.results.breakdown) {
            const unsigned n = step.cpu_count();
            out << "\n### Breakdown on " << n << (n == 1 ? " CPU\n" : " CPUs\n");
            breakdown_markdown(*step.results.breakdown, out);
        }
    }
}

namespace {

void not_compared_markdown(const std::vector<std::string>& skipped, std::ostream& out) {
    if (!skipped.empty()) {
        out << "\nNot compared:\n\n";
        for (const auto& item : skipped) {
            out << "- " << markdown_cell(item) << "\n";
        }
    }
}

} // namespace

void comparison_rows_markdown(const step_comparison& step, bool several, const std::optional<double>& drift,
                              std::ostream& out) {
    out << "| strategy | base median (ms) | new median (ms) | shift | p-value | verdict |\n";
    out << "| --- | ---: | ---: | ---: | ---: | --- |\n";
    for (const auto& s : step.strategies) {
        out << "| " << markdown_cell(s.name) << (several ? " [" + std::to_string(s.run + 1) + "]" : "") << " | "
            << median_cell(s.base_median, s.base_precision) << " | " << median_cell(s.next_median, s.next_precision)
            << " | " << shift_text(s) << " | " << decisive_p_text(s) << " | "
            << markdown_cell(verdict_cell(s) + " [" + rule_text(s, drift) + "]") << " |\n";
    }
}

void write_comparison_markdown(const comparison& c, std::ostream& out) {
    const bool several = c.next_names.size() > 1;
    out << "Comparing " << code_span(c.base_name) << " (base) with ";
    for (std::size_t r = 0; r < c.next_names.size(); ++r) {
        out << (r == 0 ? "" : ", ") << (several ? "[" + std::to_string(r + 1) + "] " : "")
            << code_span(c.next_names[r]);
    }
    out << (several ? " (new runs)" : " (new)") << ": sorting " << c.base_context.array_size << " "
        << c.base_context.values << " values, chunks of " << c.base_context.chunk_size
        << ". The shift is the Hodges-Lehmann estimate of new - base with its 95% interval, relative to the base "
           "median. Slower or faster: the Mann-Whitney U test gives p < "
        << c.alpha << " and the whole interval lies beyond " << 100 * c.threshold
        << "%; equivalent: the whole interval lies within \u00b1" << 100 * c.threshold << "%." << holm_note(c) << "\n";
    if (!c.differences.empty()) {
        out << "\n| differs | base | new |\n| --- | --- | --- |\n";
        for (const auto& d : c.differences) {
            out << "| " << d.field << (several ? " [" + std::to_string(d.run + 1) + "]" : "") << " | " << markdown_cell(d.base)
                << " | " << markdown_cell(d.next) << " |\n";
        }
    }
    for (const auto& step : c.steps) {
        out << "\n";
        if (step.cpus > 0) {
            out << "On " << cpus_text(step.cpus) << ":\n\n";
        }
        comparison_rows_markdown(step, several, c.drift, out);
    }
    not_compared_markdown(c.skipped, out);
}

void write_ab_markdown(const ab_results& ab, std::ostream& out) {
    const comparison& c = ab.judged;
    out << "Interleaved comparison over " << ab.rounds.size() << " rounds (seed " << ab.seed << "), "
        << rounds_design(ab) << (ab.complete() ? "" : ", ended early: " +
                                                                                              markdown_cell(ab.failure))
        << ".\n\n- base: " << code_span(side_text(ab.base)) << "\n- new: " << code_span(side_text(ab.next))
        << "\n\nPer round " << (ab.paired() ? "the median of its pairs' ratios, new over base" : "the new side's median over the base side's")
        << "; over the rounds the Hodges-Lehmann estimate "
           "of that ratio with its interval and the exact Wilcoxon signed-rank test. "
        << gate_rule(c) << "\n";
    if (!ab.looks.empty()) {
        out << "\n" << markdown_cell(looks_sentence(ab)) << "\n";
    }
    if (ab.paired()) {
        out << "\n" << markdown_cell(pairs_sentence(ab)) << "\n";
    }
    if (!c.differences.empty()) {
        out << "\n| the sides differ in | base | new |\n| --- | --- | --- |\n";
        for (const auto& d : c.differences) {
            out << "| " << d.field << (is_run_setting(d) ? " (a setting)" : "") << " | " << markdown_cell(d.base)
                << " | " << markdown_cell(d.next) << " |\n";
        }
    }
    for (const auto& step : c.steps) {
        out << "\n";
        comparison_rows_markdown(step, false, std::nullopt, out);
        out << "\n";
        for (const auto& s : step.strategies) {
            out << "- " << markdown_cell(plain_reading(s, c.alpha)) << "\n";
        }
    }
    not_compared_markdown(c.skipped, out);
}
