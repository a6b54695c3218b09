// The trend page's chart of one series: its medians in time order with their intervals and change points.
#include <algorithm>
#include <cstdio>

#include "common/text.hpp"
#include "report/chart_parts.hpp"
#include "records/strategy.hpp"
#include "report/trend_report.hpp"
#include "report/palette.hpp"

using namespace chart;

namespace {

// The highest median or interval end of a series, in milliseconds.
double highest_ms(const std::vector<trend_point>& points) {
    double highest = 0;
    for (const auto& p : points) {
        highest = std::max(highest, ms(p.high_ns.value_or(p.median_ns)));
    }
    return highest;
}

} // namespace

svg_figure trend_chart(const trend_series& series) {
    const auto& points = series.points;
    constexpr double left = 90;
    constexpr double right = 40;
    constexpr double plot_top = 70;
    constexpr double plot_height = 300;
    constexpr double label_room = 110; // run labels, turned, under the axis
    const double bottom = plot_top + plot_height;
    const double max_ms = highest_ms(points);
    const double step = tick_step(max_ms);
    const double top_ms = std::max(step, std::ceil(max_ms / step) * step);
    const double span = width - left - right;
    const auto x = [&](std::size_t k) {
        return points.size() > 1 ? left + span * static_cast<double>(k) / static_cast<double>(points.size() - 1)
                                 : left + span / 2;
    };
    const auto y = [&](double value_ms) { return bottom - plot_height * value_ms / top_ms; };
    figure f(bottom + label_room, series.strategy, series_title(series));
    for (double tick = 0; tick <= top_ms + step / 2; tick += step) {
        f.out << "<line x1=\"" << left << "\" y1=\"" << fixed(y(tick), 1) << "\" x2=\"" << width - right << "\" y2=\""
              << fixed(y(tick), 1) << "\" stroke=\"#e0e0e0\"/>\n";
        f.out << "<text x=\"" << left - 8 << "\" y=\"" << fixed(y(tick) + 5, 1) << "\" text-anchor=\"end\">"
              << fixed(tick, step < 1 ? 3 : 0) << "</text>\n";
    }
    f.out << "<text x=\"20\" y=\"" << fixed(plot_top + plot_height / 2, 1) << "\" transform=\"rotate(-90 20 "
          << fixed(plot_top + plot_height / 2, 1) << ")\" text-anchor=\"middle\">median (ms)</text>\n";
    // The intervals as one band, broken where a run has none.
    std::string band_top;
    std::string band_bottom;
    const auto close_band = [&] {
        if (!band_top.empty()) {
            f.out << "<path class=\"band\" d=\"M" << band_top << band_bottom << "Z\" fill=\"" << colour_of(series.strategy)
                  << "\" fill-opacity=\"0.2\" stroke=\"none\"/>\n";
        }
        band_top.clear();
        band_bottom.clear();
    };
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (!points[k].low_ns) {
            close_band();
            continue;
        }
        band_top += (band_top.empty() ? "" : "L") + fixed(x(k), 1) + " " + fixed(y(ms(*points[k].high_ns)), 1);
        band_bottom = "L" + fixed(x(k), 1) + " " + fixed(y(ms(*points[k].low_ns)), 1) + band_bottom;
    }
    close_band();
    f.out << "<polyline class=\"medians\" fill=\"none\" stroke=\"" << colour_of(series.strategy)
          << "\" stroke-width=\"2\" points=\"";
    for (std::size_t k = 0; k < points.size(); ++k) {
        f.out << (k == 0 ? "" : " ") << fixed(x(k), 1) << "," << fixed(y(ms(points[k].median_ns)), 1);
    }
    f.out << "\"/>\n";
    // A label under every run when they fit, else under every n-th.
    const std::size_t every = std::max<std::size_t>(1, points.size() / 40 + 1);
    for (std::size_t k = 0; k < points.size(); ++k) {
        f.out << "<circle class=\"run\" cx=\"" << fixed(x(k), 1) << "\" cy=\"" << fixed(y(ms(points[k].median_ns)), 1)
              << "\" r=\"3\" fill=\"" << colour_of(series.strategy) << "\"><title>run " << points[k].run_id << ", "
              << xml_escape(points[k].time) << ": " << fixed(ms(points[k].median_ns), 2) << " ms</title></circle>\n";
        if (k % every == 0) {
            // At most 16 characters: a longer label, turned under the axis, would run out of the chart.
            const std::string text = points[k].label.empty() ? points[k].time.substr(0, 16) : shortened(points[k].label, 16);
            f.out << "<text class=\"time\" x=\"" << fixed(x(k), 1) << "\" y=\"" << bottom + 12
                  << "\" font-size=\"11\" text-anchor=\"end\" transform=\"rotate(-60 " << fixed(x(k), 1) << " "
                  << bottom + 12 << ")\">" << xml_escape(text) << "</text>\n";
        }
    }
    f.out << "<line x1=\"" << left << "\" y1=\"" << bottom << "\" x2=\"" << width - right << "\" y2=\"" << bottom
          << "\" stroke=\"#333333\"/>\n";
    for (const auto& c : series.changes) {
        const double at = (x(c.found.index - 1) + x(c.found.index)) / 2;
        char change[32];
        std::snprintf(change, sizeof change, "%+.1f%%", 100 * c.found.change);
        f.out << "<line class=\"change\" x1=\"" << fixed(at, 1) << "\" y1=\"" << plot_top << "\" x2=\"" << fixed(at, 1)
              << "\" y2=\"" << bottom << "\" stroke=\"#c62828\" stroke-width=\"2\" stroke-dasharray=\"6 4\"/>\n";
        f.out << "<text x=\"" << fixed(at + 4, 1) << "\" y=\"" << plot_top + 14 << "\" fill=\"#c62828\">" << change
              << (c.weak ? " (weak)" : "") << "</text>\n";
    }
    return f.done();
}
