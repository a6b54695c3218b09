#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <iterator>

#include "report/exports.hpp"

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
constexpr double label_width = 250; // strategy names left of the plot
constexpr double right_margin = 130; // room for the value written after the longest whisker
constexpr double top = 64;
constexpr double row_height = 44;
constexpr double bar_height = 24;
constexpr double axis_height = 56;

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A tick step of 1, 2 or 5 times a power of ten giving about five ticks.
double tick_step(double max_ms) {
    if (max_ms <= 0) {
        return 1;
    }
    const double rough = max_ms / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough) {
            return factor * power;
        }
    }
    return 10 * power;
}

// One colour per strategy, in the order the records list them; references get greys.
const char* series_colour(std::size_t k, bool reference) {
    static const char* const colours[] = {"#4a7fb5", "#e07b39", "#3a9a5b", "#c0392b", "#8e6bbf", "#7f7f7f"};
    return reference ? (k % 2 == 0 ? "#9e9e9e" : "#5f5f5f") : colours[k % std::size(colours)];
}

void open_svg(std::ostream& out, double w, double h, const std::string& title) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w << "\" height=\"" << h << "\" viewBox=\"0 0 " << w
        << ' ' << h << "\" font-family=\"sans-serif\" font-size=\"14\">\n";
    out << "<title>" << xml_escape(title) << "</title>\n";
    out << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
}

void heading(std::ostream& out, double w, const std::string& title, const std::string& subtitle) {
    out << "<text x=\"" << w / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">"
        << xml_escape(title) << "</text>\n";
    out << "<text x=\"" << w / 2 << "\" y=\"48\" text-anchor=\"middle\" fill=\"#555555\">" << xml_escape(subtitle)
        << "</text>\n";
}

// Stacked horizontal bars, one per strategy, one colour per stage, in milliseconds; a legend row
// of a strategy's stages sits under its bar.
double stacked_bars_height(const std::vector<strategy_stages>& bars) {
    return top + 2 * row_height * static_cast<double>(bars.size()) + axis_height;
}

void stacked_bars(std::ostream& out, const std::vector<strategy_stages>& bars, const std::string& title) {
    static const char* const stage_colours[] = {"#4a7fb5", "#e07b39", "#3a9a5b", "#c0392b", "#9e9e9e"};
    double max_ms = 0;
    for (const auto& bar : bars) {
        double total = 0;
        for (const auto& stage : bar.stages) {
            total += static_cast<double>(stage.ns) / 1e6;
        }
        max_ms = std::max(max_ms, total);
    }
    const double step = tick_step(max_ms);
    const double axis_max = std::max(step, std::ceil(max_ms / step) * step);
    const double plot_width = width - label_width - right_margin;
    const auto x_of = [&](double ms) { return label_width + plot_width * ms / axis_max; };
    const double plot_bottom = top + 2 * row_height * static_cast<double>(bars.size());

    out << "<text x=\"" << width / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">"
        << xml_escape(title) << "</text>\n";
    for (double tick = 0; tick <= axis_max + step / 2; tick += step) {
        out << "<line x1=\"" << number(x_of(tick), 1) << "\" y1=\"" << top - 6 << "\" x2=\"" << number(x_of(tick), 1)
            << "\" y2=\"" << plot_bottom << "\" stroke=\"#e0e0e0\"/>\n";
        out << "<text x=\"" << number(x_of(tick), 1) << "\" y=\"" << plot_bottom + 20 << "\" text-anchor=\"middle\">"
            << number(tick, step < 1 ? 3 : 0) << "</text>\n";
    }
    out << "<text x=\"" << label_width + plot_width / 2 << "\" y=\"" << plot_bottom + 44
        << "\" text-anchor=\"middle\">milliseconds</text>\n";
    for (std::size_t k = 0; k < bars.size(); ++k) {
        const double y = top + 2 * row_height * static_cast<double>(k);
        out << "<g class=\"stacked\">\n<text x=\"" << label_width - 10 << "\" y=\"" << number(y + bar_height / 2 + 5, 1)
            << "\" text-anchor=\"end\">" << xml_escape(bars[k].name) << "</text>\n";
        double at_ms = 0;
        double legend_x = label_width;
        for (std::size_t s = 0; s < bars[k].stages.size(); ++s) {
            const stage_time& stage = bars[k].stages[s];
            const double ms = static_cast<double>(stage.ns) / 1e6;
            const char* colour = stage_colours[s % std::size(stage_colours)];
            out << "<rect class=\"stage\" x=\"" << number(x_of(at_ms), 1) << "\" y=\"" << number(y, 1) << "\" width=\""
                << number(x_of(at_ms + ms) - x_of(at_ms), 1) << "\" height=\"" << bar_height << "\" fill=\"" << colour
                << "\"><title>" << xml_escape(stage.stage) << ": " << number(ms, 2) << " ms</title></rect>\n";
            out << "<rect x=\"" << number(legend_x, 1) << "\" y=\"" << number(y + bar_height + 6, 1)
                << "\" width=\"10\" height=\"10\" fill=\"" << colour << "\"/>\n<text x=\"" << number(legend_x + 14, 1)
                << "\" y=\"" << number(y + bar_height + 15, 1) << "\" font-size=\"11\">" << xml_escape(stage.stage)
                << "</text>\n";
            legend_x += 24 + 6.2 * static_cast<double>(stage.stage.size());
            at_ms += ms;
        }
        out << "<text x=\"" << number(x_of(at_ms) + 8, 1) << "\" y=\"" << number(y + bar_height / 2 + 5, 1) << "\">"
            << number(at_ms, 1) << " ms</text>\n</g>\n";
    }
}

} // namespace

void write_svg_chart(const benchmark_results& results, std::ostream& out) {
    const auto& strategies = results.strategies;
    double max_ms = 0;
    for (const auto& s : strategies) {
        max_ms = std::max(max_ms, static_cast<double>(s.summary.max) / 1e6);
    }
    const double step = tick_step(max_ms);
    const double axis_max = std::max(step, std::ceil(max_ms / step) * step);
    const double plot_width = width - label_width - right_margin;
    const auto x_of = [&](double ms) { return label_width + plot_width * ms / axis_max; };
    const double plot_bottom = top + row_height * static_cast<double>(strategies.size());
    const std::vector<strategy_stages> stages =
        results.breakdown ? stages_of(*results.breakdown) : std::vector<strategy_stages>{};
    const double breakdown_top = plot_bottom + axis_height;
    const double height = breakdown_top + (stages.empty() ? 0 : stacked_bars_height(stages));
    const int decimals = max_ms < 10 ? 3 : max_ms < 1000 ? 1 : 0;

    open_svg(out, width, height, "quicksort_bench: median sort time per strategy");
    heading(out, width, "Median sort time (bars) with min to max (whiskers)",
            std::to_string(results.context.run_count) + " runs of " + std::to_string(results.context.array_size) +
                " values, chunks of " + std::to_string(results.context.chunk_size) + ", " +
                std::to_string(results.context.logical_cpus) + " logical CPUs");

    // Grid and axis.
    for (double tick = 0; tick <= axis_max + step / 2; tick += step) {
        const double x = x_of(tick);
        out << "<line x1=\"" << number(x, 1) << "\" y1=\"" << top - 6 << "\" x2=\"" << number(x, 1) << "\" y2=\""
            << plot_bottom << "\" stroke=\"#e0e0e0\"/>\n";
        out << "<text x=\"" << number(x, 1) << "\" y=\"" << plot_bottom + 20 << "\" text-anchor=\"middle\">"
            << number(tick, step < 1 ? 3 : 0) << "</text>\n";
    }
    out << "<line x1=\"" << label_width << "\" y1=\"" << plot_bottom << "\" x2=\"" << label_width + plot_width
        << "\" y2=\"" << plot_bottom << "\" stroke=\"#333333\"/>\n";
    out << "<text x=\"" << label_width + plot_width / 2 << "\" y=\"" << plot_bottom + 44
        << "\" text-anchor=\"middle\">milliseconds</text>\n";

    for (std::size_t k = 0; k < strategies.size(); ++k) {
        const auto& s = strategies[k];
        const double y = top + row_height * static_cast<double>(k) + (row_height - bar_height) / 2;
        const double mid = y + bar_height / 2;
        const double median_ms = static_cast<double>(s.summary.median) / 1e6;
        const double min_x = x_of(static_cast<double>(s.summary.min) / 1e6);
        const double max_x = x_of(static_cast<double>(s.summary.max) / 1e6);
        const char* fill = s.reference ? "#9e9e9e" : "#4a7fb5";

        out << "<g class=\"strategy\">\n";
        out << "<text x=\"" << label_width - 10 << "\" y=\"" << number(mid + 5, 1) << "\" text-anchor=\"end\">"
            << xml_escape(s.name) << "</text>\n";
        out << "<rect class=\"bar\" x=\"" << label_width << "\" y=\"" << number(y, 1) << "\" width=\""
            << number(x_of(median_ms) - label_width, 1) << "\" height=\"" << bar_height << "\" fill=\"" << fill
            << "\"/>\n";
        out << "<path class=\"whisker\" d=\"M" << number(min_x, 1) << ' ' << number(mid, 1) << "H"
            << number(max_x, 1) << "M" << number(min_x, 1) << ' ' << number(mid - 7, 1) << "v14M"
            << number(max_x, 1) << ' ' << number(mid - 7, 1) << "v14\" stroke=\"#222222\" stroke-width=\"1.5\" "
            << "fill=\"none\"/>\n";
        out << "<text x=\"" << number(max_x + 8, 1) << "\" y=\"" << number(mid + 5, 1) << "\">"
            << number(median_ms, decimals) << " ms</text>\n";
        out << "</g>\n";
    }
    if (!stages.empty()) {
        out << "<g class=\"breakdown\" transform=\"translate(0 " << breakdown_top << ")\">\n";
        stacked_bars(out, stages, "Where the time goes: one instrumented sort per strategy, by stage");
        out << "</g>\n";
    }
    out << "</svg>\n";
}

void write_scaling_chart(const sweep_results& sweep, std::ostream& out) {
    const std::vector<strategy_scaling> table = scaling_of(sweep);
    constexpr double w = 960;
    constexpr double h = 560;
    constexpr double left = 70;
    constexpr double right = 250; // the legend
    constexpr double bottom = 70;
    const double plot_w = w - left - right;
    const double plot_h = h - top - bottom;

    const unsigned smallest = sweep.steps.empty() ? 1 : sweep.steps.front().cpu_count();
    const unsigned largest = sweep.steps.empty() ? 1 : sweep.steps.back().cpu_count();
    double max_speedup = static_cast<double>(largest) / smallest; // the ideal line's end
    for (const auto& strategy : table) {
        for (const auto& p : strategy.points) {
            max_speedup = std::max(max_speedup, p.speedup.value_or(0));
        }
    }
    const double y_step = tick_step(max_speedup);
    const double y_max = std::max(y_step, std::ceil(max_speedup / y_step) * y_step);
    const double x_step = std::max(1.0, tick_step(largest));
    const double x_max = std::max(1.0, std::ceil(largest / x_step) * x_step);
    const auto x_of = [&](double cpus) { return left + plot_w * cpus / x_max; };
    const auto y_of = [&](double speedup) { return top + plot_h * (1 - speedup / y_max); };

    open_svg(out, w, h, "quicksort_bench: speedup against the CPU count");
    std::string subtitle = "median of each step against the same strategy on " + std::to_string(smallest) +
                           (smallest == 1 ? " CPU" : " CPUs");
    if (!sweep.complete()) {
        subtitle += " (incomplete: " + std::to_string(sweep.steps.size()) + " of " +
                    std::to_string(sweep.planned_counts.size()) + " steps)";
    }
    heading(out, w, "Speedup against the CPU count", subtitle);

    for (double tick = 0; tick <= y_max + y_step / 2; tick += y_step) {
        out << "<line x1=\"" << left << "\" y1=\"" << number(y_of(tick), 1) << "\" x2=\"" << left + plot_w << "\" y2=\""
            << number(y_of(tick), 1) << "\" stroke=\"#e0e0e0\"/>\n";
        out << "<text x=\"" << left - 8 << "\" y=\"" << number(y_of(tick) + 5, 1) << "\" text-anchor=\"end\">"
            << number(tick, y_step < 1 ? 1 : 0) << "</text>\n";
    }
    for (double tick = 0; tick <= x_max + x_step / 2; tick += x_step) {
        out << "<text x=\"" << number(x_of(tick), 1) << "\" y=\"" << top + plot_h + 20 << "\" text-anchor=\"middle\">"
            << number(tick, 0) << "</text>\n";
    }
    out << "<path d=\"M" << left << ' ' << top << "V" << top + plot_h << "H" << left + plot_w
        << "\" stroke=\"#333333\" fill=\"none\"/>\n";
    out << "<text x=\"" << left + plot_w / 2 << "\" y=\"" << h - 24 << "\" text-anchor=\"middle\">logical CPUs</text>\n";
    out << "<text transform=\"translate(20 " << top + plot_h / 2 << ") rotate(-90)\" text-anchor=\"middle\">speedup</text>\n";

    // The ideal: N times the smallest count's CPUs gives N times the speed.
    out << "<path class=\"ideal\" d=\"M" << number(x_of(smallest), 1) << ' ' << number(y_of(1), 1) << "L"
        << number(x_of(largest), 1) << ' ' << number(y_of(static_cast<double>(largest) / smallest), 1)
        << "\" stroke=\"#999999\" stroke-dasharray=\"6 4\" fill=\"none\"/>\n";

    const double legend_x = left + plot_w + 24;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto& strategy = table[k];
        const char* colour = series_colour(k, strategy.reference);
        out << "<g class=\"series\">\n<path d=\"";
        char command = 'M';
        for (const auto& p : strategy.points) {
            if (p.speedup) {
                out << command << number(x_of(p.cpus), 1) << ' ' << number(y_of(*p.speedup), 1);
                command = 'L';
            }
        }
        out << "\" stroke=\"" << colour << "\" stroke-width=\"2\" fill=\"none\"/>\n";
        for (const auto& p : strategy.points) {
            if (p.speedup) {
                out << "<circle class=\"point\" cx=\"" << number(x_of(p.cpus), 1) << "\" cy=\""
                    << number(y_of(*p.speedup), 1) << "\" r=\"4\" fill=\"" << colour << "\"/>\n";
            }
        }
        const double legend_y = top + 10 + 24 * static_cast<double>(k);
        out << "<rect x=\"" << legend_x << "\" y=\"" << legend_y - 10 << "\" width=\"14\" height=\"14\" fill=\"" << colour
            << "\"/>\n<text x=\"" << legend_x + 20 << "\" y=\"" << legend_y + 2 << "\">" << xml_escape(strategy.name)
            << "</text>\n</g>\n";
    }
    const double ideal_y = top + 10 + 24 * static_cast<double>(table.size());
    out << "<path d=\"M" << legend_x << ' ' << ideal_y - 3 << "h14\" stroke=\"#999999\" stroke-dasharray=\"6 4\"/>\n"
        << "<text x=\"" << legend_x + 20 << "\" y=\"" << ideal_y + 2 << "\">ideal</text>\n";
    out << "</svg>\n";
}
