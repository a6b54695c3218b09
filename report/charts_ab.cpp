// The chart of an interleaved comparison: the rounds' ratios per strategy.
#include <algorithm>
#include <cmath>

#include "report/chart_parts.hpp"
#include "report/charts.hpp"
#include "report/palette.hpp"

using namespace chart;

namespace {

// A ratio axis around 1 that holds every dot and interval end, with a little room either side.
struct ratio_axis {
    double low;
    double high;
    double x(double ratio) const { return label_width + plot_width * (ratio - low) / (high - low); }
};

ratio_axis axis_of(const step_comparison& step) {
    double low = 1;
    double high = 1;
    for (const auto& s : step.strategies) {
        for (std::size_t k = 0; k < s.base.size() && k < s.next.size(); ++k) {
            const double ratio = static_cast<double>(s.next[k]) / static_cast<double>(s.base[k]);
            low = std::min(low, ratio);
            high = std::max(high, ratio);
        }
        if (s.shift_interval) {
            low = std::min(low, 1 + s.shift_interval->first);
            high = std::max(high, 1 + s.shift_interval->second);
        }
    }
    const double pad = std::max(0.01, (high - low) * 0.08);
    return {low - pad, high + pad};
}

} // namespace

svg_figure round_ratio_chart(const ab_results& ab) {
    const step_comparison empty;
    const step_comparison& step = ab.judged.steps.empty() ? empty : ab.judged.steps.front();
    const ratio_axis axis = axis_of(step);
    const double plot_bottom = top + row_height * static_cast<double>(std::max<std::size_t>(1, step.strategies.size()));
    figure f(plot_bottom + axis_height, "New side's median over the base side's, per round",
             std::to_string(ab.rounds.size()) + " interleaved rounds");
    const double step_size = tick_step(axis.high - axis.low);
    for (double tick = std::ceil(axis.low / step_size) * step_size; tick <= axis.high; tick += step_size) {
        f.out << "<line x1=\"" << fixed(axis.x(tick), 1) << "\" y1=\"" << top - 6 << "\" x2=\"" << fixed(axis.x(tick), 1)
              << "\" y2=\"" << plot_bottom << "\" stroke=\"#e0e0e0\"/>\n<text x=\"" << fixed(axis.x(tick), 1)
              << "\" y=\"" << plot_bottom + 20 << "\" text-anchor=\"middle\">" << fixed(tick, step_size < 0.01 ? 3 : 2)
              << "</text>\n";
    }
    f.out << "<line class=\"no-change\" x1=\"" << fixed(axis.x(1), 1) << "\" y1=\"" << top - 6 << "\" x2=\""
          << fixed(axis.x(1), 1) << "\" y2=\"" << plot_bottom << "\" stroke=\"#9e9e9e\" stroke-width=\"2\"/>\n";
    f.out << "<text x=\"" << label_width + plot_width / 2 << "\" y=\"" << plot_bottom + 44
          << "\" text-anchor=\"middle\">new / base</text>\n";
    for (std::size_t k = 0; k < step.strategies.size(); ++k) {
        const auto& s = step.strategies[k];
        const char* colour = look_of(s.result).colour;
        const double mid = top + row_height * static_cast<double>(k) + row_height / 2;
        f.out << "<g class=\"strategy\">\n";
        label(f.out, mid, s.name);
        if (s.shift_interval) {
            const double low_x = axis.x(1 + s.shift_interval->first);
            const double high_x = axis.x(1 + s.shift_interval->second);
            f.out << "<rect class=\"interval\" x=\"" << fixed(low_x, 1) << "\" y=\"" << fixed(mid - bar_height / 2, 1)
                  << "\" width=\"" << fixed(std::max(1.0, high_x - low_x), 1) << "\" height=\"" << bar_height
                  << "\" fill=\"" << colour << "\" fill-opacity=\"0.2\"/>\n";
        }
        if (s.shift) {
            f.out << "<line class=\"estimate\" x1=\"" << fixed(axis.x(1 + *s.shift), 1) << "\" y1=\""
                  << fixed(mid - bar_height / 2, 1) << "\" x2=\"" << fixed(axis.x(1 + *s.shift), 1) << "\" y2=\""
                  << fixed(mid + bar_height / 2, 1) << "\" stroke=\"#222222\" stroke-width=\"2\"/>\n";
        }
        for (std::size_t r = 0; r < s.base.size() && r < s.next.size(); ++r) {
            const double ratio = static_cast<double>(s.next[r]) / static_cast<double>(s.base[r]);
            const double jitter = (static_cast<double>(r % 5) - 2) * 2.5;
            f.out << "<circle class=\"round\" cx=\"" << fixed(axis.x(ratio), 1) << "\" cy=\"" << fixed(mid + jitter, 1)
                  << "\" r=\"3.5\" fill=\"" << colour << "\" fill-opacity=\"0.8\"><title>round " << r + 1 << ": "
                  << fixed(ratio, 3) << "</title></circle>\n";
        }
        f.out << "</g>\n";
    }
    return f.done();
}
