// The one chart module: every picture the program draws, for the SVG export and the HTML page
// alike, is one of these figures. Each is a complete <svg> element with a viewBox, so it scales
// to any width; none uses a script, a font file or anything outside itself.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "records/ab.hpp"
#include "records/comparison.hpp"
#include "records/derived.hpp"
#include "records/results.hpp"

struct svg_figure {
    std::string svg; // <svg ...>...</svg>, without an XML declaration
    double width = 0;
    double height = 0;
};

// A bar per strategy for its median, a whisker from min to max, and every measured sort as a dot.
// The axis reaches at least `axis_ms`, so that several charts can share one scale.
svg_figure median_chart(const benchmark_results& results, double axis_ms = 0);

// The slowest sort of `results`, in milliseconds: what an axis must reach to show every dot.
double slowest_ms(const benchmark_results& results);

// Stacked bars: each strategy's instrumented sort cut into its stages.
svg_figure stage_chart(const breakdown_results& breakdown);

// Speedup against the CPU count, a line per strategy, with the ideal line.
svg_figure scaling_chart(const sweep_results& sweep);

// Per strategy, the base run's and the new run's sorts as two rows of dots with their medians,
// coloured by the verdict.
svg_figure comparison_chart(const step_comparison& step);

// Per strategy, each round's ratio of the new side's median to the base side's as a dot, the
// estimate and its interval over the rounds, and the line of no change, coloured by the verdict.
svg_figure round_ratio_chart(const ab_results& ab);

// Each phase's effective parallelism (CPU time / wall time) as a bar, against the CPUs it had.
svg_figure parallelism_chart(const std::vector<phase_resources>& resources);

// A standalone SVG file holding the figures one above the other.
void write_svg_document(const std::vector<svg_figure>& figures, const std::string& title, std::ostream& out);

// Text safe inside XML or HTML character data and attribute values.
std::string xml_escape(const std::string& text);
