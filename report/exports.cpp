// The one table of export formats, and the writing of every export a command asks for.
#include "report/exports.hpp"

#include "common/output_file.hpp"

const std::array<exporter, 6> exporters = {{
    {"--export-json", &export_paths::json, write_json, write_sweep_json, write_comparison_json, write_trend_json,
     write_ab_json},
    {"--export-csv", &export_paths::csv, write_csv, write_sweep_csv, nullptr, nullptr, nullptr},
    {"--export-markdown", &export_paths::markdown, write_markdown, write_sweep_markdown, write_comparison_markdown,
     write_trend_markdown, write_ab_markdown},
    {"--chart", &export_paths::chart, write_svg_chart, write_scaling_chart, nullptr, write_trend_svg, nullptr},
    {"--export-gbench", &export_paths::gbench, write_run_gbench, write_gbench, nullptr, nullptr, nullptr},
    {"--export-html", &export_paths::html, write_html, write_sweep_html, write_comparison_html, write_trend_html,
     write_ab_html},
}};

namespace {

template <typename Records, typename Writer>
void write_each(const export_paths& paths, const Records& records, Writer exporter::*writer) {
    for (const auto& format : exporters) {
        if (format.*writer != nullptr) {
            write_export(paths.*format.path, records, format.*writer);
        }
    }
}

} // namespace

void write_exports(const export_paths& paths, const benchmark_results& run) { write_each(paths, run, &exporter::run); }

void write_exports(const export_paths& paths, const sweep_results& sweep) {
    export_paths asked = paths;
    if (sweep.steps.empty()) {
        asked.gbench.clear();
    }
    write_each(asked, sweep, &exporter::sweep);
}

void write_exports(const export_paths& paths, const comparison& c) { write_each(paths, c, &exporter::comparison); }

void write_exports(const export_paths& paths, const trend_report& trend) {
    write_each(paths, trend, &exporter::trend);
}

void write_exports(const export_paths& paths, const ab_results& ab) { write_each(paths, ab, &exporter::ab); }
