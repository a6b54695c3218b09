#include "cli/classic_run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <sstream>

#include "bench/measure.hpp"
#include "cli/history_command.hpp"
#include "common/output_file.hpp"
#include "report/breakdown_report.hpp"
#include "report/exports.hpp"
#include "report/resources_report.hpp"

int run_classic(const options& opts) {
    const console con = standard_console(opts.exports.to_stdout());
    const measured_run run = measure(opts, con);
    return report_run(opts, con, run.results, run.stats);
}

int report_run(const options& opts, const console& con, const benchmark_results& results, const report_stats& stats) {
    con.clear();
    std::vector<strategy_result> references;
    std::copy_if(results.strategies.begin(), results.strategies.end(), std::back_inserter(references),
                 [](const strategy_result& s) { return s.reference; });
    print_report(stats, results.context.run_count, con.out, references, opts.precision ? runs_line(results) : "");
    print_precision(results, con.out);
    if (results.breakdown) {
        print_breakdown(*results.breakdown, con.out);
    }
    if (opts.resources) {
        print_resources(results.resources, con.out);
    }
    // Advice on how far each median can be trusted, beside the report rather than in it.
    for (const auto& s : results.strategies) {
        for (const auto& warning : s.warnings) {
            std::cerr << "advice: " << s.name << ": " << warning << std::endl;
        }
    }
    for (const auto& line : design_advice(results)) {
        std::cerr << "advice: " << line << std::endl;
    }
    for (const auto& warning : results.environment_warnings) {
        std::cerr << "warning: " << warning << std::endl;
    }

    write_export(opts.exports.json, results, write_json);
    write_export(opts.exports.csv, results, write_csv);
    write_export(opts.exports.markdown, results, write_markdown);
    write_export(opts.exports.chart, results, write_svg_chart);
    write_export(opts.exports.html, results, write_html);
    write_export(opts.exports.gbench, results, [](const benchmark_results& results, std::ostream& out) {
        sweep_results single;
        single.planned_counts = {0};
        single.steps = {{results}};
        write_gbench(single, out);
    });
    int status = EXIT_SUCCESS;
    if (opts.record) {
        std::ostringstream document;
        write_json(results, document);
        sweep_results run;
        run.planned_counts = {0};
        run.steps = {{results}};
        status = record_run(opts, run, document.str());
    }
    if (!opts.no_pause && !opts.exports.to_stdout()) {
        wait_for_key(con.out, STDIN_FILENO);
    }
    return status;
}
