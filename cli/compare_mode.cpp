// `quicksort_bench compare`: the exports read, compared and judged, the gate's exit status.
#include "cli/compare_mode.hpp"

#include <cstdlib>
#include <iostream>

#include "common/error.hpp"
#include "records/comparison.hpp"
#include "report/comparison_report.hpp"
#include "report/exports.hpp"
#include "records/json_reader.hpp"

int compare_exit_status(const comparison& c, bool fail_on_slower, bool allow_inconclusive) {
    if (!fail_on_slower) {
        return EXIT_SUCCESS;
    }
    if (c.any(verdict::slower)) {
        return EXIT_FAILURE;
    }
    return !allow_inconclusive && !c.undecided().empty() ? 3 : EXIT_SUCCESS;
}

int run_compare(const compare_options& opts) {
    comparison c;
    try {
        const export_document base = read_export_file(opts.base);
        std::vector<std::pair<std::string, sweep_results>> nexts;
        for (const auto& file : opts.nexts) {
            nexts.emplace_back(file, read_export_file(file).sweep);
        }
        c = compare_runs(base.sweep, nexts, opts.gate.alpha, opts.gate.threshold, opts.drift);
    } catch (const std::runtime_error& e) { // export_error or comparison_refused: nothing to compare
        print_error(std::cerr, e.what());
        return 2;
    }
    c.base_name = opts.base;
    // Standard output holds an export written to "-" alone.
    print_comparison(c, opts.exports.to_stdout() ? std::cerr : std::cout);

    write_exports(opts.exports, c);

    return gate_status(c, opts.gate.fail_on_slower, opts.gate.allow_inconclusive,
                       "runs of more processes decide them: --processes " + std::to_string(min_processes_to_decide) +
                           " or more a side");
}

int gate_status(const comparison& c, bool fail_on_slower, bool allow_inconclusive, const std::string& remedy) {
    const int status = compare_exit_status(c, fail_on_slower, allow_inconclusive);
    if (status == 3) {
        std::string names;
        for (const auto& name : c.undecided()) {
            names += (names.empty() ? "" : ", ") + name;
        }
        std::cerr << "quicksort_bench: not decided, so the gate does not pass (" << remedy
                  << "; --allow-inconclusive lets the gate pass): " << names << std::endl;
    }
    return status;
}
