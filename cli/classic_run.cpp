#include "cli/classic_run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "bench/measure.hpp"
#include "common/output_file.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/resources_report.hpp"

int run_classic(const options& opts) {
    const console con = standard_console(opts.exports.to_stdout());
    const measured_run run = measure(opts, con);

    con.clear();
    std::vector<strategy_result> references;
    std::copy_if(run.results.strategies.begin(), run.results.strategies.end(), std::back_inserter(references),
                 [](const strategy_result& s) { return s.reference; });
    print_report(run.stats, opts.sizes.run_count, con.out, references,
                 opts.precision ? runs_line(run.results) : "");
    print_precision(run.results, con.out);
    if (run.results.breakdown) {
        print_breakdown(*run.results.breakdown, con.out);
    }
    if (opts.resources) {
        print_resources(run.results.resources, con.out);
    }
    // Advice on how far each median can be trusted, beside the report rather than in it.
    for (const auto& s : run.results.strategies) {
        for (const auto& warning : s.warnings) {
            std::cerr << "advice: " << s.name << ": " << warning << std::endl;
        }
    }
    for (const auto& warning : run.results.environment_warnings) {
        std::cerr << "warning: " << warning << std::endl;
    }

    write_export(opts.exports.json, run.results, write_json);
    write_export(opts.exports.csv, run.results, write_csv);
    write_export(opts.exports.markdown, run.results, write_markdown);
    write_export(opts.exports.chart, run.results, write_svg_chart);
    write_export(opts.exports.html, run.results, write_html);
    write_export(opts.exports.gbench, run.results, [](const benchmark_results& results, std::ostream& out) {
        sweep_results single;
        single.planned_counts = {0};
        single.steps = {{results}};
        write_gbench(single, out);
    });
    if (!opts.no_pause && !opts.exports.to_stdout()) {
        wait_for_key(con.out, STDIN_FILENO);
    }
    return EXIT_SUCCESS;
}
