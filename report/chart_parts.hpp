// What every chart shares: the frame, the millisecond axis, the labels and the dots. Private to
// the chart module.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "common/duration.hpp"
#include "common/format.hpp"
#include "report/charts.hpp"

namespace chart {

constexpr double width = 960;
constexpr double label_width = 250;  // strategy names left of the plot
constexpr double right_margin = 130; // room for the value written after the longest whisker
constexpr double top = 64;
constexpr double row_height = 44;
constexpr double bar_height = 24;
constexpr double axis_height = 56;
constexpr double plot_width = width - label_width - right_margin;

inline double ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

// A tick step of 1, 2 or 5 times a power of ten giving about five ticks.
inline double tick_step(double max) {
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

inline void label(std::ostream& out, double y, const std::string& text) {
    out << "<text x=\"" << label_width - 10 << "\" y=\"" << fixed(y + 5, 1) << "\" text-anchor=\"end\">"
        << xml_escape(text) << "</text>\n";
}

// Every duration as a dot on the line `y`, spread a little up and down so equal ones stay visible.
inline void dots(std::ostream& out, const ms_axis& axis, const duration_list& durations, double y, const char* colour) {
    for (std::size_t k = 0; k < durations.size(); ++k) {
        const double jitter = (static_cast<double>(k % 5) - 2) * 2.5;
        out << "<circle class=\"run\" cx=\"" << fixed(axis.x(ms(durations[k])), 1) << "\" cy=\""
            << fixed(y + jitter, 1) << "\" r=\"3\" fill=\"" << colour
            << "\" fill-opacity=\"0.75\" stroke=\"#ffffff\" stroke-width=\"0.5\"/>\n";
    }
}

} // namespace chart
