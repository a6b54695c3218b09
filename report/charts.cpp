// Every chart the program draws, as complete <svg> figures for the SVG export and the page.
#include "report/charts.hpp"

#include "common/format.hpp"
#include "common/text.hpp"
#include "report/exports.hpp"
#include "report/chart_parts.hpp"
#include "records/strategy.hpp"
#include "report/palette.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <ostream>
#include <sstream>

using namespace chart;

std::string xml_escape(const std::string& text) {
    std::string escaped;
    for (const char ch : printable(text)) {
        switch (ch) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default: escaped += ch;
        }
    }
    return escaped;
}

double slowest_ms(const benchmark_results& results) {
    double max_ms = 0;
    for (const auto& s : results.strategies) {
        max_ms = std::max(max_ms, ms(s.summary.max));
    }
    return max_ms;
}

svg_figure median_chart(const benchmark_results& results, double axis_ms) {
    const auto& strategies = results.strategies;
    const double max_ms = std::max(axis_ms, slowest_ms(results));
    const ms_axis axis(max_ms);
    const double plot_bottom = top + row_height * static_cast<double>(strategies.size());
    const int decimals = max_ms < 10 ? 3 : max_ms < 1000 ? 1 : 0;
    const run_context& c = results.context;
    figure f(plot_bottom + axis_height, "Median sort time (bars), every sort (dots), min to max (whiskers)",
             std::to_string(c.run_count) + " runs of " + std::to_string(c.array_size) + " " + c.values +
                 " values, chunks of " + std::to_string(c.chunk_size) + ", " + std::to_string(c.logical_cpus) +
                 " logical CPUs");
    axis.draw(f.out, top - 6, plot_bottom);
    for (std::size_t k = 0; k < strategies.size(); ++k) {
        const auto& s = strategies[k];
        const duration_summary shown = headline(s);
        const double y = top + row_height * static_cast<double>(k) + (row_height - bar_height) / 2;
        const double mid = y + bar_height / 2;
        const double min_x = axis.x(ms(s.summary.min));
        const double max_x = axis.x(ms(s.summary.max));
        f.out << "<g class=\"strategy\">\n";
        label(f.out, mid, s.name);
        f.out << "<rect class=\"bar\" x=\"" << label_width << "\" y=\"" << fixed(y, 1) << "\" width=\""
              << fixed(axis.x(ms(shown.median)) - label_width, 1) << "\" height=\"" << bar_height << "\" fill=\""
              << colour_of(s.name) << "\" fill-opacity=\"0.45\"/>\n";
        f.out << "<path class=\"whisker\" d=\"M" << fixed(min_x, 1) << ' ' << fixed(mid, 1) << "H"
              << fixed(max_x, 1) << "M" << fixed(min_x, 1) << ' ' << fixed(mid - 7, 1) << "v14M"
              << fixed(max_x, 1) << ' ' << fixed(mid - 7, 1) << "v14\" stroke=\"#222222\" stroke-width=\"1.5\" "
              << "fill=\"none\"/>\n";
        if (shown.interval) {
            // The median's 95% interval: a bracket across the end of its bar.
            const double low_x = axis.x(ms(shown.interval->low));
            const double high_x = axis.x(ms(shown.interval->high));
            f.out << "<path class=\"interval\" d=\"M" << fixed(low_x, 1) << ' ' << fixed(y - 2, 1) << "V"
                  << fixed(y + bar_height + 2, 1) << "M" << fixed(low_x, 1) << ' ' << fixed(mid, 1) << "H"
                  << fixed(high_x, 1) << "M" << fixed(high_x, 1) << ' ' << fixed(y - 2, 1) << "V"
                  << fixed(y + bar_height + 2, 1) << "\" stroke=\"#000000\" stroke-width=\"3\" fill=\"none\"><title>"
                  << "95% interval of the median: " << fixed(ms(shown.interval->low), 2) << " to "
                  << fixed(ms(shown.interval->high), 2) << " ms</title></path>\n";
        }
        dots(f.out, axis, s.durations, mid, colour_of(s.name));
        for (std::size_t p = 0; p < s.processes.size() && s.processes.size() > 1; ++p) {
            const std::int64_t median = median_of(s.processes[p]);
            f.out << "<circle class=\"process\" cx=\"" << fixed(axis.x(ms(median)), 1) << "\" cy=\"" << fixed(mid, 1)
                  << "\" r=\"5\" fill=\"#111111\" fill-opacity=\"0.8\" stroke=\"#ffffff\" stroke-width=\"1\"><title>process "
                  << p + 1 << ": median " << fixed(ms(median), 2) << " ms of " << s.processes[p].size()
                  << " sorts</title></circle>\n";
        }
        f.out << "<text x=\"" << fixed(max_x + 8, 1) << "\" y=\"" << fixed(mid + 5, 1) << "\">"
              << fixed(ms(shown.median), decimals) << " ms</text>\n";
        f.out << "</g>\n";
    }
    if (results.floor.measured()) {
        // No sort on every CPU of the run can end before one pass has read and written the array.
        const double x = axis.x(ms(results.floor.ns()));
        f.out << "<line class=\"memory-floor\" x1=\"" << fixed(x, 1) << "\" y1=\"" << top - 10 << "\" x2=\"" << fixed(x, 1)
              << "\" y2=\"" << plot_bottom << "\" stroke=\"#000000\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"><title>"
              << "memory floor: one pass reading and writing the array on every CPU, " << fixed(ms(results.floor.ns()), 3)
              << " ms</title></line>\n<text x=\"" << fixed(x + 4, 1) << "\" y=\"" << top - 12
              << "\" font-size=\"12\">memory floor</text>\n";
    }
    return f.done();
}

svg_figure stage_chart(const breakdown_results& breakdown) {
    static const char* const stage_colours[] = {"#4a7fb5", "#e07b39", "#3a9a5b", "#c0392b", "#9e9e9e"};
    const std::vector<strategy_stages> bars = stages_of(breakdown);
    double max_ms = 0;
    for (const auto& bar : bars) {
        double total = 0;
        for (const auto& stage : bar.stages) {
            total += ms(stage.ns);
        }
        max_ms = std::max(max_ms, total);
    }
    const ms_axis axis(max_ms);
    const double plot_bottom = top + 2 * row_height * static_cast<double>(bars.size());
    figure f(plot_bottom + axis_height, "Where the time goes: one instrumented sort per strategy, by stage",
             "the sort with the median time of " + std::to_string(breakdown.runs) + " instrumented runs");
    axis.draw(f.out, top - 6, plot_bottom);
    for (std::size_t k = 0; k < bars.size(); ++k) {
        const double y = top + 2 * row_height * static_cast<double>(k);
        f.out << "<g class=\"stacked\">\n";
        label(f.out, y + bar_height / 2, bars[k].name);
        double at_ms = 0;
        double legend_x = label_width;
        for (std::size_t s = 0; s < bars[k].stages.size(); ++s) {
            const stage_time& stage = bars[k].stages[s];
            const char* colour = stage_colours[s % std::size(stage_colours)];
            f.out << "<rect class=\"stage\" x=\"" << fixed(axis.x(at_ms), 1) << "\" y=\"" << fixed(y, 1)
                  << "\" width=\"" << fixed(axis.x(at_ms + ms(stage.ns)) - axis.x(at_ms), 1) << "\" height=\""
                  << bar_height << "\" fill=\"" << colour << "\"><title>" << xml_escape(stage.stage) << ": "
                  << fixed(ms(stage.ns), 2) << " ms</title></rect>\n";
            f.out << "<rect x=\"" << fixed(legend_x, 1) << "\" y=\"" << fixed(y + bar_height + 6, 1)
                  << "\" width=\"10\" height=\"10\" fill=\"" << colour << "\"/>\n<text x=\""
                  << fixed(legend_x + 14, 1) << "\" y=\"" << fixed(y + bar_height + 15, 1)
                  << "\" font-size=\"12\">" << xml_escape(stage.stage) << "</text>\n";
            legend_x += 24 + 6.8 * static_cast<double>(stage.stage.size());
            at_ms += ms(stage.ns);
        }
        f.out << "<text x=\"" << fixed(axis.x(at_ms) + 8, 1) << "\" y=\"" << fixed(y + bar_height / 2 + 5, 1)
              << "\">" << fixed(at_ms, 1) << " ms</text>\n</g>\n";
    }
    return f.done();
}

void write_svg_document(const std::vector<svg_figure>& figures, const std::string& title, std::ostream& out) {
    double height = 0;
    for (const auto& fig : figures) {
        height += fig.height;
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (figures.size() == 1) {
        out << figures.front().svg;
        return;
    }
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n<title>" << xml_escape(title) << "</title>\n";
    double y = 0;
    for (const auto& fig : figures) {
        // A nested <svg> placed at its offset; its own viewBox keeps its coordinates.
        out << "<svg y=\"" << y << "\"" << fig.svg.substr(fig.svg.find(' '));
        y += fig.height;
    }
    out << "</svg>\n";
}

void write_svg_chart(const benchmark_results& results, std::ostream& out) {
    std::vector<svg_figure> figures{median_chart(results, 0)};
    if (results.breakdown) {
        figures.push_back(stage_chart(*results.breakdown));
    }
    write_svg_document(figures, "quicksort_bench: median sort time per strategy", out);
}

void write_scaling_chart(const sweep_results& sweep, std::ostream& out) {
    write_svg_document({scaling_chart(sweep)}, "quicksort_bench: speedup against the CPU count", out);
}
