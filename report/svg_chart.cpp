#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

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
    const double height = plot_bottom + axis_height;
    const int decimals = max_ms < 10 ? 3 : max_ms < 1000 ? 1 : 0;

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"14\">\n";
    out << "<title>quicksort_bench: median sort time per strategy</title>\n";
    out << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    out << "<text x=\"" << width / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">"
        << "Median sort time (bars) with min to max (whiskers)</text>\n";
    out << "<text x=\"" << width / 2 << "\" y=\"48\" text-anchor=\"middle\" fill=\"#555555\">"
        << results.context.run_count << " runs of " << results.context.array_size << " values, chunks of "
        << results.context.chunk_size << ", " << results.context.logical_cpus << " logical CPUs</text>\n";

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
    out << "</svg>\n";
}
