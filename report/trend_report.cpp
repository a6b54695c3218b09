// A history's trends: a series per strategy and machine, their change points and what changed beside them.
#include "report/trend_report.hpp"

#include <tuple>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ostream>

#include "records/json_fields.hpp"
#include "common/format.hpp"
#include "common/text.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"
#include "report/html_parts.hpp"

std::vector<trend_change> changes_of(const std::vector<trend_point>& points, const change_point_settings& settings) {
    std::vector<double> medians;
    for (const auto& p : points) {
        medians.push_back(static_cast<double>(p.median_ns));
    }
    std::vector<trend_change> changes;
    for (const auto& found : find_change_points(medians, settings)) {
        trend_change c;
        c.found = found;
        c.run_id = points[found.index].run_id;
        const trend_point& before = points[found.index - 1];
        const trend_point& after = points[found.index];
        c.weak = before.low_ns && after.low_ns && *before.low_ns <= *after.high_ns && *after.low_ns <= *before.high_ns;
        changes.push_back(c);
    }
    return changes;
}

std::string series_title(const trend_series& s) {
    return printable(s.strategy + ": " + s.machine + ", " + std::to_string(s.array_size) + " " + s.values +
                     " values, chunks of " + std::to_string(s.chunk_size) + (s.cpus > 0 ? ", on " + cpus_text(s.cpus) : ""));
}

std::string facts_change(const run_facts& before, const run_facts& after) {
    std::string text;
    for (const auto& [what, was, now] : {std::tuple<const char*, std::string, std::string>{"compiler", before.compiler, after.compiler},
                                         {"kernel", before.kernel, after.kernel},
                                         {"oneTBB", before.tbb_version, after.tbb_version},
                                         {"revision", before.revision, after.revision}}) {
        if (was != now) {
            text += (text.empty() ? "" : "; ") + std::string(what) + " " + was + " -> " + now;
        }
    }
    return text;
}

std::string p_text(double p) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g", p);
    return text;
}

std::string change_text(const trend_series& s, const trend_change& c) {
    char change[32];
    std::snprintf(change, sizeof change, "%+.1f%%", 100 * c.found.change);
    const trend_point& before = s.points[c.found.index - 1];
    const trend_point& after = s.points[c.found.index];
    const std::string facts = facts_change(before.facts, after.facts);
    return "change at run " + std::to_string(c.run_id) + " (" + after.time + "): " + fixed(c.found.mean_before / 1e6, 2) +
           " ms -> " + fixed(c.found.mean_after / 1e6, 2) + " ms, " + change + ", p = " + p_text(c.found.p_value) +
           (c.weak ? " (weak: the intervals either side overlap)" : "") + ", between revisions " +
           before.facts.revision + " and " + after.facts.revision + (facts.empty() ? "" : "; " + facts);
}

namespace {

std::string interval_text(const trend_point& p) {
    return p.low_ns ? "[" + format_ms(*p.low_ns) + ", " + format_ms(*p.high_ns) + "]" : "(no interval)";
}

} // namespace

void print_trend(const trend_report& trend, std::ostream& out) {
    out << "Trends in " << trend.history << " (change points: E-divisive means, t test p < "
        << p_text(trend.settings.max_p_value) << ", at least " << trend.settings.min_segment
        << " runs a side, windows of " << trend.settings.window << "):" << std::endl;
    for (const auto& s : trend.series) {
        out << std::endl << series_title(s) << std::endl;
        for (const auto& p : s.points) {
            out << "  run " << p.run_id << "  " << printable(p.time) << "  " << format_ms_precise(p.median_ns) << " ms "
                << interval_text(p) << (p.processes > 1 ? " over " + std::to_string(p.processes) + " processes" : "")
                << (p.label.empty() ? "" : "  " + printable(p.label)) << std::endl;
            if (&p != &s.points.front()) {
                if (const std::string changed = facts_change((&p - 1)->facts, p.facts); !changed.empty()) {
                    out << "    " << printable(changed) << std::endl;
                }
            }
        }
        if (s.points.size() < 2 * trend.settings.min_segment) {
            out << "  too few runs to look for change points (" << s.points.size() << "; at least "
                << 2 * trend.settings.min_segment << ", " << trend.settings.min_segment << " a side)" << std::endl;
        } else if (s.changes.empty()) {
            out << "  no change point" << std::endl;
        }
        for (const auto& c : s.changes) {
            out << "  " << change_text(s, c) << std::endl;
        }
    }
}

void write_trend_json(const trend_report& trend, std::ostream& out) {
    nlohmann::ordered_json doc;
    doc["history"] = trend.history;
    doc["change_points"] = {{"method", "e-divisive means, Student t test"},
                            {"max_p_value", trend.settings.max_p_value},
                            {"min_segment", trend.settings.min_segment},
                            {"min_magnitude", trend.settings.min_magnitude},
                            {"window", trend.settings.window}};
    auto series = nlohmann::ordered_json::array();
    for (const auto& s : trend.series) {
        auto points = nlohmann::ordered_json::array();
        for (const auto& p : s.points) {
            points.push_back({{"run", p.run_id},
                              {"time", p.time},
                              {"label", p.label},
                              {"median_ns", p.median_ns},
                              {"median_interval_ns", p.low_ns ? nlohmann::ordered_json{*p.low_ns, *p.high_ns}
                                                              : nlohmann::ordered_json(nullptr)},
                              {"processes", p.processes},
                              {"compiler", p.facts.compiler},
                              {"kernel", p.facts.kernel},
                              {"tbb_version", p.facts.tbb_version},
                              {"revision", p.facts.revision}});
        }
        auto changes = nlohmann::ordered_json::array();
        for (const auto& c : s.changes) {
            changes.push_back({{"index", c.found.index},
                               {"run", c.run_id},
                               {"mean_before_ns", c.found.mean_before},
                               {"mean_after_ns", c.found.mean_after},
                               {"change", c.found.change},
                               {"p_value", c.found.p_value},
                               {"weak", c.weak},
                               {"revision_before", s.points[c.found.index - 1].facts.revision},
                               {"revision_after", s.points[c.found.index].facts.revision},
                               {"facts_changed", facts_change(s.points[c.found.index - 1].facts,
                                                              s.points[c.found.index].facts)}});
        }
        series.push_back({{"strategy", s.strategy},
                          {"machine", s.machine},
                          {"array_size", s.array_size},
                          {"chunk_size", s.chunk_size},
                          {"values", s.values},
                          {"cpus", s.cpus},
                          {"points", std::move(points)},
                          {"change_points", std::move(changes)}});
    }
    doc["series"] = std::move(series);
    out << json_fields::json_text(doc, 2) << '\n';
}

void write_trend_markdown(const trend_report& trend, std::ostream& out) {
    for (const auto& s : trend.series) {
        out << "### " << markdown_cell(series_title(s)) << "\n\n";
        out << "| run | time | label | median (ms) | 95% interval (ms) |\n| ---: | --- | --- | ---: | --- |\n";
        for (const auto& p : s.points) {
            out << "| " << p.run_id << " | " << p.time << " | " << markdown_cell(p.label) << " | " << format_ms(p.median_ns) << " | "
                << interval_text(p) << " |\n";
        }
        out << '\n';
        for (const auto& c : s.changes) {
            out << "- " << markdown_cell(change_text(s, c)) << '\n';
        }
        out << (s.changes.empty() ? "No change point.\n\n" : "\n");
    }
}

void write_trend_svg(const trend_report& trend, std::ostream& out) {
    std::vector<svg_figure> figures;
    for (const auto& s : trend.series) {
        figures.push_back(trend_chart(s));
    }
    write_svg_document(figures, "quicksort_bench: trends", out);
}

