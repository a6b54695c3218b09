// The pages of a sweep and of a comparison.
#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "common/format.hpp"
#include "report/breakdown_report.hpp"
#include "report/ab_report.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"
#include "report/html_parts.hpp"
#include "report/resources_report.hpp"
#include "report/sweep_report.hpp"
#include "report/palette.hpp"

using namespace html;

void write_sweep_html(const sweep_results& sweep, std::ostream& out) {
    page_open(out, "quicksort_bench CPU-count sweep");
    std::vector<std::string> sentences;
    const std::vector<strategy_scaling> table = scaling_of(sweep);
    if (sweep.steps.size() > 1) {
        std::string sentence = "From " + std::to_string(sweep.steps.front().cpu_count()) + " to " +
                               std::to_string(sweep.steps.back().cpu_count()) + " CPUs";
        const char* separator = ", ";
        for (const auto& strategy : table) {
            const scaling_point& last = strategy.points.back();
            if (last.speedup && last.efficiency) {
                sentence += separator + std::string(strategy.reference ? "" : "the ") + strategy.name +
                            (strategy.by_throughput ? "'s throughput grows " : " speeds up ") +
                            fixed(*last.speedup, 2) + "\u00d7 (" + fixed(100 * *last.efficiency, 0) + "% efficiency)";
                separator = "; ";
            }
        }
        sentences.push_back(sentence + ".");
    }
    if (!sweep.complete()) {
        sentences.push_back("Incomplete: " + std::to_string(sweep.steps.size()) + " of " +
                            std::to_string(sweep.planned_counts.size()) + " steps ran (" +
                            (sweep.failure.empty() ? "the sweep ended early" : sweep.failure) + ").");
    }
    reading(out, sentences);
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& step : sweep.steps) {
        const unsigned n = step.cpu_count();
        for (auto& w : warnings_of(step.results, std::to_string(n) + (n == 1 ? " CPU, " : " CPUs, "))) {
            found.push_back(std::move(w));
        }
    }
    warnings(out, found);
    if (sweep.steps.empty()) {
        page_close(out);
        return;
    }
    out << "<h2>Context (of the first step)</h2>\n";
    context_table(out, sweep.steps.front().results.context);
    out << "<h2>Scaling</h2>\n";
    figure(out, scaling_chart(sweep),
           "Speedup of each strategy against its own at the smallest count: of its throughput (sorts per second "
           "over the phase's wall time) where its sorts run side by side, one per CPU, else of its median.");
    out << "<div class=\"wrap\"><table class=\"scaling\">\n<tr><th>strategy</th><th>scales by</th><th>CPUs</th>"
        << "<th>median (ms)</th><th>sorts/s</th><th>speedup</th><th>efficiency</th></tr>\n";
    for (const auto& strategy : table) {
        for (const auto& point : strategy.points) {
            const auto cells = scaling_cells(point);
            out << "<tr><td>" << esc(strategy.name) << "</td><td class=\"text\">"
                << (strategy.by_throughput ? "throughput" : "median") << "</td><td>" << cells[0]
                << "</td><td class=\"median\" data-strategy=\"" << esc(strategy.name) << "\" data-cpus=\""
                << point.cpus << "\" data-ns=\"" << point.median << "\">" << cells[1] << "</td><td>" << cells[2]
                << "</td><td>" << cells[3] << "</td><td>" << cells[4] << "</td></tr>\n";
        }
    }
    out << "</table></div>\n";
    // One scale for every step, so that their charts compare at a glance.
    double axis_ms = 0;
    for (const auto& step : sweep.steps) {
        axis_ms = std::max(axis_ms, slowest_ms(step.results));
    }
    for (const auto& step : sweep.steps) {
        out << "<h2>On " << cpus_text(step.cpu_count()) << " ("
            << esc(format_cpu_list(step.results.context.cpus)) << ")</h2>\n";
        figure(out, median_chart(step.results, axis_ms), "Every sort of this step, on the scale all steps share.");
        if (step.results.breakdown) {
            breakdown_section(out, *step.results.breakdown);
        }
        resources_section(out, step.results);
    }
    page_close(out);
}

void comparison_rows_html(const step_comparison& step, bool several, const std::optional<double>& drift,
                          std::ostream& out) {
    out << "<div class=\"wrap\"><table class=\"comparison\">\n<tr><th>strategy</th><th>base median (ms)</th>"
        << "<th>new median (ms)</th><th>shift [95% interval]</th><th>p-value</th><th class=\"text\">verdict</th>"
        << "</tr>\n";
    for (const auto& s : step.strategies) {
        out << "<tr><td>" << esc(s.name) << (several ? " [" + std::to_string(s.run + 1) + "]" : "") << "</td><td>"
            << esc(median_cell(s.base_median, s.base_precision)) << "</td><td>"
            << esc(median_cell(s.next_median, s.next_precision)) << "</td><td>" << esc(shift_text(s)) << "</td><td>"
            << esc(decisive_p_text(s)) << "</td><td class=\"text " << look_of(s.result).css_class << "\">"
            << esc(verdict_cell(s) + " [" + rule_text(s, drift) + "]") << "</td></tr>\n";
    }
    out << "</table></div>\n";
}

namespace {

// How many rows got each verdict.
std::map<verdict, std::size_t> verdict_counts(const comparison& c) {
    std::map<verdict, std::size_t> counts;
    for (const auto& step : c.steps) {
        for (const auto& s : step.strategies) {
            ++counts[s.result];
        }
    }
    return counts;
}

// The gate's rule as a page says it, `test` deciding and `interval` the interval that must clear the threshold.
std::string change_counts(const comparison& c, const std::string& test, const std::string& interval) {
    return "A change counts when " + test + " gives p < " + general(c.alpha) + " and " + interval + " lies beyond " +
           general(100 * c.threshold) + "%; equivalent means the whole interval lies within \u00b1" +
           general(100 * c.threshold) + "%." + holm_note(c);
}

} // namespace

void write_comparison_html(const comparison& c, std::ostream& out) {
    page_open(out, "quicksort_bench comparison");
    std::map<verdict, std::size_t> counts = verdict_counts(c);
    const std::size_t total = c.rows();
    std::vector<std::string> sentences = {
        "Of " + std::to_string(total) + " strategy comparisons, " + std::to_string(counts[verdict::faster]) +
        " got faster, " + std::to_string(counts[verdict::slower]) + " got slower, " +
        std::to_string(counts[verdict::equivalent]) + " are equivalent and " +
        std::to_string(counts[verdict::inconclusive] + counts[verdict::too_few_runs]) +
        " could not be decided. " +
        change_counts(c, "the Mann-Whitney U test", "the whole 95% interval of the Hodges-Lehmann shift")};
    for (const auto& item : c.skipped) {
        sentences.push_back("Not compared: " + item + ".");
    }
    reading(out, sentences);
    out << "<h2>Contexts</h2>\n<div class=\"wrap\"><table class=\"contexts\">\n<tr><th></th><th class=\"text\">base: "
        << esc(c.base_name) << "</th>";
    for (std::size_t r = 0; r < c.next_names.size(); ++r) {
        out << "<th class=\"text\">" << (c.next_names.size() > 1 ? "[" + std::to_string(r + 1) + "] " : "new: ")
            << esc(c.next_names[r]) << "</th>";
    }
    out << "</tr>\n";
    const auto fields = [](const run_context& x) {
        return std::vector<std::pair<const char*, std::string>>{
            {"host", x.host_name},
            {"CPU", x.cpu_model},
            {"logical CPUs", std::to_string(x.logical_cpus)},
            {"compiler", x.compiler},
            {"build", x.build_type},
            {"oneTBB", x.tbb_version},
            {"runs", std::to_string(x.run_count)},
            {"sizes", std::to_string(x.array_size) + " / " + std::to_string(x.chunk_size) + " / " + x.values},
            {"date", x.date_time},
        };
    };
    const auto base_fields = fields(c.base_context);
    for (std::size_t k = 0; k < base_fields.size(); ++k) {
        bool differs = false;
        std::string cells;
        for (const auto& context : c.next_contexts) {
            const std::string value = fields(context)[k].second;
            differs = differs || value != base_fields[k].second;
            cells += "<td class=\"text\">" + esc(value) + "</td>";
        }
        out << "<tr" << (differs ? " class=\"differs\"" : "") << "><th>" << base_fields[k].first
            << "</th><td class=\"text\">" << esc(base_fields[k].second) << "</td>" << cells << "</tr>\n";
    }
    out << "</table></div>\n";
    const bool several = c.next_names.size() > 1;
    for (const auto& step : c.steps) {
        out << "<h2>" << (step.cpus > 0 ? "On " + cpus_text(step.cpus)
                                        : std::string("Strategies"))
            << "</h2>\n";
        comparison_rows_html(step, several, c.drift, out);
        figure(out, comparison_chart(step), "The base run's sorts, then each new run's, per strategy; the colour is "
                                            "the verdict, the shaded bar the shift's 95% interval.");
    }
    page_close(out);
}

void write_ab_html(const ab_results& ab, std::ostream& out) {
    const comparison& c = ab.judged;
    page_open(out, "quicksort_bench interleaved comparison");
    std::map<verdict, std::size_t> counts = verdict_counts(c);
    const std::size_t total = c.rows();
    std::vector<std::string> sentences = {
        std::to_string(ab.rounds.size()) + " rounds " +
        (ab.paired() ? "paired both sides' units on the same arrays" : "ran both sides once each") +
        ", in an alternating order, so that the machine's drift over the minutes falls on both alike. Of " + std::to_string(total) + " strategies, " +
        std::to_string(counts[verdict::faster]) + " got faster, " + std::to_string(counts[verdict::slower]) +
        " got slower, " + std::to_string(counts[verdict::equivalent]) + " are equivalent and " +
        std::to_string(total - counts[verdict::faster] - counts[verdict::slower] - counts[verdict::equivalent]) +
        " could not be decided. " +
        change_counts(c, "the signed-rank test of the rounds' ratios",
                      "the whole interval of the Hodges-Lehmann estimate")};
    if (!ab.looks.empty()) {
        sentences.push_back(looks_sentence(ab));
    }
    if (ab.paired()) {
        sentences.push_back(pairs_sentence(ab));
    }
    if (!ab.complete()) {
        sentences.push_back("The run ended early: " + ab.failure + ".");
    }
    for (const auto& item : c.skipped) {
        sentences.push_back("Not compared: " + item + ".");
    }
    reading(out, sentences);
    out << "<h2>Sides</h2>\n<div class=\"wrap\"><table class=\"contexts\">\n<tr><th>base</th><td class=\"text\">"
        << esc(side_text(ab.base)) << "</td></tr>\n<tr><th>new</th><td class=\"text\">" << esc(side_text(ab.next))
        << "</td></tr>\n";
    for (const auto& d : c.differences) {
        out << "<tr class=\"differs\"><th>" << esc(d.field) << "</th><td class=\"text\">" << esc(d.base) << " \u2192 "
            << esc(d.next) << "</td></tr>\n";
    }
    out << "</table></div>\n<h2>Strategies</h2>\n";
    for (const auto& step : c.steps) {
        comparison_rows_html(step, false, std::nullopt, out);
    }
    if (!ab.rounds.empty()) {
        figure(out, round_ratio_chart(ab),
               "Each dot is one round's ratio of the new side's median to the base side's; the shaded band is the "
               "interval of the estimate, the dark line the estimate, the grey line no change; the colour is the "
               "verdict.");
    }
    page_close(out);
}
