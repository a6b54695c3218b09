#include "bench/compare_mode.hpp"

#include <cstdlib>
#include <iostream>
#include <sstream>

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
    print_comparison(c, std::cout);

    const auto write = [&c](const std::string& path, void (*reporter)(const comparison&, std::ostream&)) {
        if (!path.empty()) {
            std::ostringstream text;
            reporter(c, text);
            write_file_atomically(path, text.str());
        }
    };
    write(opts.exports.markdown, write_comparison_markdown);
    write(opts.exports.json, write_comparison_json);
    write(opts.exports.html, write_comparison_html);
    return opts.fail_on_slower && c.any_slower() ? EXIT_FAILURE : EXIT_SUCCESS;
}
