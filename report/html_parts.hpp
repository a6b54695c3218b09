// The parts every page is built of: the frame, the reading, the tables and the warnings. Private
// to the page writers.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "report/charts.hpp"
#include "records/derived.hpp"
#include "records/results.hpp"

namespace html {

inline std::string esc(const std::string& text) { return xml_escape(text); }

// 0.05 and 2 rather than 0.050 and 2.0.
std::string general(double value);

void page_open(std::ostream& out, const std::string& title);

void page_close(std::ostream& out);

void reading(std::ostream& out, const std::vector<std::string>& sentences);

void figure(std::ostream& out, const svg_figure& fig, const std::string& caption, bool fit = false);

// "1.73× faster than", or "2.10× slower than" when the ratio is below 1.
std::string relation(double ratio);

void context_table(std::ostream& out, const run_context& c);

std::string interval_cell(const duration_summary& d);

void results_table(std::ostream& out, const benchmark_results& results);

void speedup_table(std::ostream& out, const benchmark_results& results);

void warnings(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& found);

std::vector<std::pair<std::string, std::string>> warnings_of(const benchmark_results& results,
                                                             const std::string& prefix = "");

std::vector<std::string> reading_of(const benchmark_results& results);

void breakdown_section(std::ostream& out, const breakdown_results& b);

std::string load_text(const environment_facts& f);

// The machine as the run found it and left it.
void environment_table(std::ostream& out, const benchmark_results& results);

void resources_section(std::ostream& out, const benchmark_results& results);

} // namespace html
