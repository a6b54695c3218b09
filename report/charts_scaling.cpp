// The charts of a sweep, a comparison and the phases' parallelism.
#include "report/charts.hpp"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "report/chart_parts.hpp"
#include "records/strategy.hpp"
#include "report/palette.hpp"

using namespace chart;

namespace {

// One strategy's speedups as a line through its points, each with its interval as an error bar.
template <typename X, typename Y>
void draw_series(std::ostream& out, const strategy_scaling& strategy, const char* colour, X x_of, Y y_of) {
    out << "<path d=\"";
    char command = 'M';
    for (const auto& p : strategy.points) {
        if (p.speedup) {
            out << command << fixed(x_of(p.cpus), 1) << ' ' << fixed(y_of(*p.speedup), 1);
            command = 'L';
        }
    }
    out << "\" stroke=\"" << colour << "\" stroke-width=\"2\" fill=\"none\"/>\n";
    for (const auto& p : strategy.points) {
        if (p.speedup_interval) {
            const double x = x_of(p.cpus);
            out << "<path class=\"error-bar\" d=\"M" << fixed(x, 1) << ' ' << fixed(y_of(p.speedup_interval->first), 1)
                  << "V" << fixed(y_of(p.speedup_interval->second), 1) << "M" << fixed(x - 5, 1) << ' '
                  << fixed(y_of(p.speedup_interval->first), 1) << "h10M" << fixed(x - 5, 1) << ' '
                  << fixed(y_of(p.speedup_interval->second), 1) << "h10\" stroke=\"" << colour
                  << "\" stroke-width=\"1.5\" fill=\"none\"/>\n";
        }
        if (p.speedup) {
            out << "<circle class=\"point\" cx=\"" << fixed(x_of(p.cpus), 1) << "\" cy=\""
                  << fixed(y_of(*p.speedup), 1) << "\" r=\"4\" fill=\"" << colour << "\"/>\n";
        }
    }
}

// The highest speedup the chart must show: the ideal line's end, every point and interval.
double highest_speedup(const std::vector<strategy_scaling>& table, double ideal) {
    double highest = ideal;
    for (const auto& strategy : table) {
        for (const auto& p : strategy.points) {
            highest = std::max(highest, p.speedup.value_or(0));
            if (p.speedup_interval) {
                highest = std::max(highest, p.speedup_interval->second);
            }
        }
    }
    return highest;
}

} // namespace

svg_figure scaling_chart(const sweep_results& sweep) {
    const std::vector<strategy_scaling> table = scaling_of(sweep);
    constexpr double h = 560;
    constexpr double left = 70;
    constexpr double legend = 250;
    constexpr double bottom = 70;
    const double plot_w = width - left - legend;
    const double plot_h = h - top - bottom;

    const unsigned smallest = sweep.steps.empty() ? 1 : sweep.steps.front().cpu_count();
    const unsigned largest = sweep.steps.empty() ? 1 : sweep.steps.back().cpu_count();
    const double max_speedup = highest_speedup(table, static_cast<double>(largest) / smallest);
    const double y_step = tick_step(max_speedup);
    const double y_max = std::max(y_step, std::ceil(max_speedup / y_step) * y_step);
    // The axis starts at the smallest count; counts spanning 4x or more get a log2 axis, so 1, 2,
    // 4, 8 and 16 CPUs stand evenly apart.
    const bool log_axis = largest >= 4 * smallest;
    const double x_low = log_axis ? std::log2(smallest) : smallest;
    const double x_high = std::max(x_low + 1, log_axis ? std::log2(largest) : static_cast<double>(largest));
    const auto x_of = [&](double cpus) {
        const double at = log_axis ? std::log2(std::max(1.0, cpus)) : cpus;
        return left + plot_w * (at - x_low) / (x_high - x_low);
    };
    const auto y_of = [&](double speedup) { return top + plot_h * (1 - speedup / y_max); };

    std::string subtitle = "median of each step against the same strategy on " + cpus_text(smallest);
    if (!sweep.complete()) {
        subtitle += " (incomplete: " + std::to_string(sweep.steps.size()) + " of " +
                    std::to_string(sweep.planned_counts.size()) + " steps)";
    }
    figure f(h, "Speedup against the CPU count", subtitle);
    for (double tick = 0; tick <= y_max + y_step / 2; tick += y_step) {
        f.out << "<line x1=\"" << left << "\" y1=\"" << fixed(y_of(tick), 1) << "\" x2=\"" << left + plot_w
              << "\" y2=\"" << fixed(y_of(tick), 1) << "\" stroke=\"#e0e0e0\"/>\n";
        f.out << "<text x=\"" << left - 8 << "\" y=\"" << fixed(y_of(tick) + 5, 1) << "\" text-anchor=\"end\">"
              << fixed(tick, y_step < 1 ? 1 : 0) << "</text>\n";
    }
    std::vector<double> x_ticks;
    for (const auto& step : sweep.steps) {
        x_ticks.push_back(step.cpu_count());
    }
    for (const double tick : x_ticks) {
        f.out << "<text x=\"" << fixed(x_of(tick), 1) << "\" y=\"" << top + plot_h + 20
              << "\" text-anchor=\"middle\">" << fixed(tick, 0) << "</text>\n";
    }
    f.out << "<path d=\"M" << left << ' ' << top << "V" << top + plot_h << "H" << left + plot_w
          << "\" stroke=\"#333333\" fill=\"none\"/>\n";
    f.out << "<text x=\"" << left + plot_w / 2 << "\" y=\"" << h - 24 << "\" text-anchor=\"middle\">logical CPUs"
          << (log_axis ? " (log scale)" : "") << "</text>\n";
    f.out << "<text transform=\"translate(20 " << top + plot_h / 2
          << ") rotate(-90)\" text-anchor=\"middle\">speedup</text>\n";
    // The ideal: N times the smallest count's CPUs gives N times the speed.
    f.out << "<path class=\"ideal\" d=\"";
    char ideal_command = 'M';
    for (const double cpus : x_ticks) {
        f.out << ideal_command << fixed(x_of(cpus), 1) << ' ' << fixed(y_of(cpus / smallest), 1);
        ideal_command = 'L';
    }
    f.out << "\" stroke=\"#999999\" stroke-dasharray=\"6 4\" fill=\"none\"/>\n";

    const double legend_x = left + plot_w + 24;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto& strategy = table[k];
        const char* colour = colour_of(strategy.name);
        f.out << "<g class=\"series\">\n";
        draw_series(f.out, strategy, colour, x_of, y_of);
        const double legend_y = top + 10 + 24 * static_cast<double>(k);
        f.out << "<rect x=\"" << legend_x << "\" y=\"" << legend_y - 10 << "\" width=\"14\" height=\"14\" fill=\""
              << colour << "\"/>\n<text x=\"" << legend_x + 20 << "\" y=\"" << legend_y + 2 << "\">"
              << xml_escape(strategy.name) << "</text>\n</g>\n";
    }
    const double ideal_y = top + 10 + 24 * static_cast<double>(table.size());
    f.out << "<path d=\"M" << legend_x << ' ' << ideal_y - 3 << "h14\" stroke=\"#999999\" stroke-dasharray=\"6 4\"/>\n"
          << "<text x=\"" << legend_x + 20 << "\" y=\"" << ideal_y + 2 << "\">ideal</text>\n";
    return f.done();
}

svg_figure comparison_chart(const step_comparison& step) {
    double max_ms = 0;
    std::vector<std::vector<const strategy_comparison*>> groups; // per strategy, its rows in run order
    for (const auto& s : step.strategies) {
        if (groups.empty() || groups.back().front()->name != s.name) {
            groups.emplace_back();
        }
        groups.back().push_back(&s);
        for (const duration_list* list : {&s.base, &s.next}) {
            for (const duration_ns d : *list) {
                max_ms = std::max(max_ms, ms(d));
            }
        }
        if (s.shift_interval_ns) {
            max_ms = std::max(max_ms, ms(s.base_median) + s.shift_interval_ns->second / 1e6);
        }
    }
    std::size_t rows = 0;
    for (const auto& group : groups) {
        rows += 1 + group.size();
    }
    const ms_axis axis(max_ms);
    constexpr double line = 28;
    const double plot_bottom = top + line * static_cast<double>(rows) + 16 * static_cast<double>(groups.size());
    figure f(plot_bottom + axis_height, "Base run (first row) against each new run (the rows below it)",
             "every sort as a dot, the medians as ticks, the shift's 95% interval as a bar; colour: the verdict");
    axis.draw(f.out, top - 6, plot_bottom);
    double y = top + 12;
    for (const auto& group : groups) {
        f.out << "<g class=\"comparison\">\n";
        label(f.out, y, group.front()->name);
        const auto row = [&](const duration_list& list, std::int64_t median, const char* colour) {
            f.out << "<line class=\"median\" x1=\"" << fixed(axis.x(ms(median)), 1) << "\" y1=\"" << fixed(y - 10, 1)
                  << "\" x2=\"" << fixed(axis.x(ms(median)), 1) << "\" y2=\"" << fixed(y + 10, 1) << "\" stroke=\""
                  << colour << "\" stroke-width=\"3\"/>\n";
            dots(f.out, axis, list, y, colour);
        };
        row(group.front()->base, group.front()->base_median, "#78909c");
        for (const strategy_comparison* s : group) {
            y += line;
            const char* colour = look_of(s->result).colour;
            if (s->shift_interval_ns) {
                const double base_ms = ms(s->base_median);
                f.out << "<rect class=\"shift\" x=\"" << fixed(axis.x(base_ms + s->shift_interval_ns->first / 1e6), 1)
                      << "\" y=\"" << fixed(y - 6, 1) << "\" width=\""
                      << fixed(std::max(1.0, axis.x(base_ms + s->shift_interval_ns->second / 1e6) -
                                                  axis.x(base_ms + s->shift_interval_ns->first / 1e6)),
                                1)
                      << "\" height=\"12\" fill=\"" << colour << "\" fill-opacity=\"0.25\"/>\n";
            }
            row(s->next, s->next_median, colour);
            f.out << "<text x=\"" << label_width + plot_width + 8 << "\" y=\"" << fixed(y + 5, 1) << "\" fill=\""
                  << colour << "\" font-weight=\"bold\">" << xml_escape(verdict_text(s->result)) << "</text>\n";
        }
        f.out << "</g>\n";
        y += line + 16;
    }
    return f.done();
}

svg_figure parallelism_chart(const std::vector<phase_resources>& resources) {
    double max_value = 1;
    for (const auto& p : resources) {
        max_value = std::max({max_value, p.parallelism, static_cast<double>(p.cpus)});
    }
    const double step = std::max(1.0, tick_step(max_value));
    const double axis_max = std::ceil(max_value / step) * step;
    const auto x = [&](double value) { return label_width + plot_width * value / axis_max; };
    const double plot_bottom = top + row_height * static_cast<double>(resources.size());
    figure f(plot_bottom + axis_height, "Effective parallelism of each phase (CPU time / wall time)",
             "bars: the parallelism reached; black mark: the CPUs the phase had");
    for (double tick = 0; tick <= axis_max + step / 2; tick += step) {
        f.out << "<line x1=\"" << fixed(x(tick), 1) << "\" y1=\"" << top - 6 << "\" x2=\"" << fixed(x(tick), 1)
              << "\" y2=\"" << plot_bottom << "\" stroke=\"#e0e0e0\"/>\n<text x=\"" << fixed(x(tick), 1) << "\" y=\""
              << plot_bottom + 20 << "\" text-anchor=\"middle\">" << fixed(tick, 0) << "</text>\n";
    }
    f.out << "<text x=\"" << label_width + plot_width / 2 << "\" y=\"" << plot_bottom + 44
          << "\" text-anchor=\"middle\">CPUs busy on average</text>\n";
    for (std::size_t k = 0; k < resources.size(); ++k) {
        const auto& p = resources[k];
        const double y = top + row_height * static_cast<double>(k) + (row_height - bar_height) / 2;
        f.out << "<g class=\"phase\">\n";
        label(f.out, y + bar_height / 2, p.phase);
        f.out << "<rect class=\"parallelism\" x=\"" << label_width << "\" y=\"" << fixed(y, 1) << "\" width=\""
              << fixed(x(p.parallelism) - label_width, 1) << "\" height=\"" << bar_height << "\" fill=\""
              << colour_of(p.phase) << "\" fill-opacity=\"0.6\"/>\n";
        f.out << "<path class=\"cpus\" d=\"M" << fixed(x(p.cpus), 1) << ' ' << fixed(y - 4, 1) << "v"
              << bar_height + 8 << "\" stroke=\"#000000\" stroke-width=\"3\"/>\n";
        f.out << "<text x=\"" << fixed(std::max(x(p.parallelism), x(p.cpus)) + 8, 1) << "\" y=\""
              << fixed(y + bar_height / 2 + 5, 1) << "\">" << fixed(p.parallelism, 2) << " of " << p.cpus
              << "</text>\n</g>\n";
    }
    return f.done();
}
