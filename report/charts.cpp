#include "report/charts.hpp"

#include "common/format.hpp"
#include "report/exports.hpp"
#include "report/strategy.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <ostream>
#include <sstream>

std::string xml_escape(const std::string& text) {
    std::string escaped;
    for (const char ch : text) {
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

namespace {

constexpr double width = 960;
constexpr double label_width = 250;  // strategy names left of the plot
constexpr double right_margin = 130; // room for the value written after the longest whisker
constexpr double top = 64;
constexpr double row_height = 44;
constexpr double bar_height = 24;
constexpr double axis_height = 56;
constexpr double plot_width = width - label_width - right_margin;

double ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

// A tick step of 1, 2 or 5 times a power of ten giving about five ticks.
double tick_step(double max) {
    if (max <= 0) {
        return 1;
    }
    const double rough = max / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough) {
            return factor * power;
        }
    }
    return 10 * power;
}


// The frame every figure shares: an <svg> with a viewBox, a white ground, a title and a subtitle.
class figure {
public:
    figure(double height, const std::string& title, const std::string& subtitle) : height_(height) {
        out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
            << "\" viewBox=\"0 0 " << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"14\">\n";
        out << "<title>" << xml_escape(title) << "</title>\n";
        out << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
        out << "<text x=\"" << width / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">"
            << xml_escape(title) << "</text>\n";
        if (!subtitle.empty()) {
            out << "<text x=\"" << width / 2 << "\" y=\"48\" text-anchor=\"middle\" fill=\"#555555\">"
                << xml_escape(subtitle) << "</text>\n";
        }
    }
    svg_figure done() {
        out << "</svg>\n";
        return {out.str(), width, height_};
    }
    std::ostringstream out;

private:
    double height_;
};

// A horizontal millisecond axis from 0 to `max_ms`, with grid lines from `grid_top` down to `bottom`.
struct ms_axis {
    double step;
    double max;
    ms_axis(double max_ms) : step(tick_step(max_ms)), max(std::max(step, std::ceil(max_ms / step) * step)) {}
    double x(double value_ms) const { return label_width + plot_width * value_ms / max; }
    void draw(std::ostream& out, double grid_top, double bottom) const {
        for (double tick = 0; tick <= max + step / 2; tick += step) {
            out << "<line x1=\"" << fixed(x(tick), 1) << "\" y1=\"" << grid_top << "\" x2=\"" << fixed(x(tick), 1)
                << "\" y2=\"" << bottom << "\" stroke=\"#e0e0e0\"/>\n";
            out << "<text x=\"" << fixed(x(tick), 1) << "\" y=\"" << bottom + 20 << "\" text-anchor=\"middle\">"
                << fixed(tick, step < 1 ? 3 : 0) << "</text>\n";
        }
        out << "<line x1=\"" << label_width << "\" y1=\"" << bottom << "\" x2=\"" << label_width + plot_width
            << "\" y2=\"" << bottom << "\" stroke=\"#333333\"/>\n";
        out << "<text x=\"" << label_width + plot_width / 2 << "\" y=\"" << bottom + 44
            << "\" text-anchor=\"middle\">milliseconds</text>\n";
    }
};

void label(std::ostream& out, double y, const std::string& text) {
    out << "<text x=\"" << label_width - 10 << "\" y=\"" << fixed(y + 5, 1) << "\" text-anchor=\"end\">"
        << xml_escape(text) << "</text>\n";
}

// Every duration as a dot on the line `y`, spread a little up and down so equal ones stay visible.
void dots(std::ostream& out, const ms_axis& axis, const duration_list& durations, double y, const char* colour) {
    for (std::size_t k = 0; k < durations.size(); ++k) {
        const double jitter = (static_cast<double>(k % 5) - 2) * 2.5;
        out << "<circle class=\"run\" cx=\"" << fixed(axis.x(ms(durations[k])), 1) << "\" cy=\""
            << fixed(y + jitter, 1) << "\" r=\"3\" fill=\"" << colour
            << "\" fill-opacity=\"0.75\" stroke=\"#ffffff\" stroke-width=\"0.5\"/>\n";
    }
}

} // namespace

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
        const double y = top + row_height * static_cast<double>(k) + (row_height - bar_height) / 2;
        const double mid = y + bar_height / 2;
        const double min_x = axis.x(ms(s.summary.min));
        const double max_x = axis.x(ms(s.summary.max));
        f.out << "<g class=\"strategy\">\n";
        label(f.out, mid, s.name);
        f.out << "<rect class=\"bar\" x=\"" << label_width << "\" y=\"" << fixed(y, 1) << "\" width=\""
              << fixed(axis.x(ms(s.summary.median)) - label_width, 1) << "\" height=\"" << bar_height << "\" fill=\""
              << colour_of(s.name) << "\" fill-opacity=\"0.45\"/>\n";
        f.out << "<path class=\"whisker\" d=\"M" << fixed(min_x, 1) << ' ' << fixed(mid, 1) << "H"
              << fixed(max_x, 1) << "M" << fixed(min_x, 1) << ' ' << fixed(mid - 7, 1) << "v14M"
              << fixed(max_x, 1) << ' ' << fixed(mid - 7, 1) << "v14\" stroke=\"#222222\" stroke-width=\"1.5\" "
              << "fill=\"none\"/>\n";
        if (s.summary.interval) {
            // The median's 95% interval: a bracket across the end of its bar.
            const double low_x = axis.x(ms(s.summary.interval->low));
            const double high_x = axis.x(ms(s.summary.interval->high));
            f.out << "<path class=\"interval\" d=\"M" << fixed(low_x, 1) << ' ' << fixed(y - 2, 1) << "V"
                  << fixed(y + bar_height + 2, 1) << "M" << fixed(low_x, 1) << ' ' << fixed(mid, 1) << "H"
                  << fixed(high_x, 1) << "M" << fixed(high_x, 1) << ' ' << fixed(y - 2, 1) << "V"
                  << fixed(y + bar_height + 2, 1) << "\" stroke=\"#000000\" stroke-width=\"3\" fill=\"none\"><title>"
                  << "95% interval of the median: " << fixed(ms(s.summary.interval->low), 2) << " to "
                  << fixed(ms(s.summary.interval->high), 2) << " ms</title></path>\n";
        }
        dots(f.out, axis, s.durations, mid, colour_of(s.name));
        f.out << "<text x=\"" << fixed(max_x + 8, 1) << "\" y=\"" << fixed(mid + 5, 1) << "\">"
              << fixed(ms(s.summary.median), decimals) << " ms</text>\n";
        f.out << "</g>\n";
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
    double max_speedup = static_cast<double>(largest) / smallest; // the ideal line's end
    for (const auto& strategy : table) {
        for (const auto& p : strategy.points) {
            max_speedup = std::max(max_speedup, p.speedup.value_or(0));
            if (p.speedup_interval) {
                max_speedup = std::max(max_speedup, p.speedup_interval->second);
            }
        }
    }
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
        f.out << "<g class=\"series\">\n<path d=\"";
        char command = 'M';
        for (const auto& p : strategy.points) {
            if (p.speedup) {
                f.out << command << fixed(x_of(p.cpus), 1) << ' ' << fixed(y_of(*p.speedup), 1);
                command = 'L';
            }
        }
        f.out << "\" stroke=\"" << colour << "\" stroke-width=\"2\" fill=\"none\"/>\n";
        for (const auto& p : strategy.points) {
            if (p.speedup_interval) {
                const double x = x_of(p.cpus);
                f.out << "<path class=\"error-bar\" d=\"M" << fixed(x, 1) << ' ' << fixed(y_of(p.speedup_interval->first), 1)
                      << "V" << fixed(y_of(p.speedup_interval->second), 1) << "M" << fixed(x - 5, 1) << ' '
                      << fixed(y_of(p.speedup_interval->first), 1) << "h10M" << fixed(x - 5, 1) << ' '
                      << fixed(y_of(p.speedup_interval->second), 1) << "h10\" stroke=\"" << colour
                      << "\" stroke-width=\"1.5\" fill=\"none\"/>\n";
            }
            if (p.speedup) {
                f.out << "<circle class=\"point\" cx=\"" << fixed(x_of(p.cpus), 1) << "\" cy=\""
                      << fixed(y_of(*p.speedup), 1) << "\" r=\"4\" fill=\"" << colour << "\"/>\n";
            }
        }
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
            const char* colour = style_of(s->result).colour;
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
                  << colour << "\" font-weight=\"bold\">" << xml_escape(style_of(s->result).text) << "</text>\n";
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
