#include "bench/compare_mode.hpp"

#include <cstdlib>
#include <iostream>

#include "report/comparison.hpp"
#include "report/exports.hpp"
#include "report/json_reader.hpp"
#include "report/output_file.hpp"

int run_compare(const compare_options& opts) {
    comparison c;
    try {
        const export_document base = read_export_file(opts.base);
        const export_document next = read_export_file(opts.next);
        c = compare_runs(base.sweep, next.sweep, opts.alpha, opts.threshold);
    } catch (const std::runtime_error& e) { // export_error or comparison_refused: nothing to compare
        std::cerr << "quicksort_bench: error: " << e.what() << std::endl;
        return 2;
    }
    c.base_name = opts.base;
    c.next_name = opts.next;
    // Standard output holds an export written to "-" alone.
    print_comparison(c, opts.exports.to_stdout() ? std::cerr : std::cout);

    write_export(opts.exports.markdown, c, write_comparison_markdown);
    write_export(opts.exports.json, c, write_comparison_json);
    write_export(opts.exports.html, c, write_comparison_html);
    return opts.fail_on_slower && c.any_slower() ? EXIT_FAILURE : EXIT_SUCCESS;
}
