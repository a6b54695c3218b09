// The trend page: the fleet side by side, then per series its chart and its table.
#include <ostream>

#include "common/format.hpp"
#include "records/strategy.hpp"
#include "report/exports.hpp"
#include "report/html_parts.hpp"
#include "report/trend_report.hpp"

namespace {

// The series of `s`'s machine, size, chunk, values and CPUs for the sequential sort, if any.
const trend_series* sequential_beside(const trend_report& trend, const trend_series& s) {
    for (const auto& other : trend.series) {
        if (other.strategy == name_of(strategy::sequential) && other.machine == s.machine &&
            other.array_size == s.array_size && other.chunk_size == s.chunk_size && other.values == s.values &&
            other.cpus == s.cpus) {
            return &other;
        }
    }
    return nullptr;
}

// Per strategy its machines side by side: the latest median with its interval, its speedup over
// the sequential sort of the same run, and the change points of every machine's series together,
// so that which machine regressed, and when, reads in one place.
void fleet_section(std::ostream& out, const trend_report& trend) {
    out << "<h2>The fleet</h2>\n";
    for (std::size_t k = 0; k < trend.series.size();) {
        const std::string& strategy = trend.series[k].strategy;
        out << "<h3>" << html::esc(strategy) << "</h3>\n<div class=\"wrap\"><table class=\"fleet\">\n<tr><th class=\"text\">"
            << "machine</th><th>latest median (ms)</th><th>95% interval (ms)</th><th>speedup over the sequential sort</th>"
            << "<th class=\"text\">change points</th></tr>\n";
        for (; k < trend.series.size() && trend.series[k].strategy == strategy; ++k) {
            const trend_series& s = trend.series[k];
            const trend_point& latest = s.points.back();
            std::string speedup = "n/a";
            if (const trend_series* sequential = sequential_beside(trend, s)) {
                for (const auto& p : sequential->points) {
                    if (p.run_id == latest.run_id && latest.median_ns > 0) {
                        speedup = fixed(static_cast<double>(p.median_ns) / static_cast<double>(latest.median_ns), 2);
                    }
                }
            }
            std::string changes;
            for (const auto& c : s.changes) {
                changes += (changes.empty() ? "" : "; ") + change_text(s, c);
            }
            out << "<tr><td class=\"text\">" << html::esc(s.machine) << "</td><td>" << format_ms(latest.median_ns)
                << "</td><td>" << (latest.low_ns ? format_ms(*latest.low_ns) + " \u2013 " + format_ms(*latest.high_ns) : "n/a")
                << "</td><td>" << speedup << "</td><td class=\"text\">" << html::esc(changes.empty() ? "none" : changes)
                << "</td></tr>\n";
        }
        out << "</table></div>\n";
    }
}

// Every point of a series as a row: the values the chart shows, readable on a phone and in print.
void series_table(std::ostream& out, const trend_series& s) {
    out << "<div class=\"wrap\"><table class=\"series\">\n<tr><th>run</th><th class=\"text\">date and time</th>"
        << "<th>median (ms)</th><th>95% interval (ms)</th><th class=\"text\">revision</th><th class=\"text\">label</th>"
        << "</tr>\n";
    for (std::size_t k = 0; k < s.points.size(); ++k) {
        const trend_point& p = s.points[k];
        std::string note;
        for (const auto& c : s.changes) {
            note += c.found.index == k ? " (a change point: " + change_text(s, c) + ")" : "";
        }
        out << "<tr><td>" << p.run_id << "</td><td class=\"text\">" << html::esc(p.time) << "</td><td>"
            << format_ms(p.median_ns) << (p.processes > 1 ? " over " + std::to_string(p.processes) + " processes" : "")
            << "</td><td>" << (p.low_ns ? format_ms(*p.low_ns) + " \u2013 " + format_ms(*p.high_ns) : "n/a")
            << "</td><td class=\"text\">" << html::esc(p.facts.revision) << "</td><td class=\"text\">"
            << html::esc(p.label) << html::esc(note) << "</td></tr>\n";
    }
    out << "</table></div>\n";
}

} // namespace

void write_trend_html(const trend_report& trend, std::ostream& out) {
    html::page_open(out, "quicksort_bench trends");
    out << "<p>From <span class=\"path\">" << html::esc(trend.history)
        << "</span>. Change points: E-divisive means with a Student t test, p &lt; "
        << p_text(trend.settings.max_p_value) << ", at least " << trend.settings.min_segment
        << " runs a side, windows of " << trend.settings.window << " runs.</p>\n";
    fleet_section(out, trend);
    for (const auto& s : trend.series) {
        out << "<h2>" << html::esc(series_title(s)) << "</h2>\n";
        std::string caption = "Line: the median of each run; band: its 95% interval; dashed: a change point.";
        for (const auto& c : s.changes) {
            caption += " " + change_text(s, c) + ".";
        }
        html::figure(out, trend_chart(s), caption, true);
        series_table(out, s);
    }
    html::page_close(out);
}
